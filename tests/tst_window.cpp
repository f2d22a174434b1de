// The window: its layout as it opens, the two links, and sessions with a file driven through the controls.

#include "app/ui/WebAddresses.h"
#include "support/WindowFixture.h"

#include <QDesktopServices>
#include <QKeySequence>

using namespace morvane;
using namespace morvane::test;

namespace {
// Steps: "open a.vob 100" (100 s long; "open" alone cancels), "refuse b.vob", "length 2.5" (when named again),
// "at 42" (the player's position), "tick", "Play", "Stop", "Save", "Selected", "close", "key Right" (on the
// slider), "press/move/release 314" (the mouse on the slider at x), "Start 20 22.5" (slider at 20, player at
// 22.5), "End 40".
void run(WindowFixture &w, const QString &steps)
{
    Form1 &f = *w.form;
    const QHash<QString, QPushButton *> buttons{
        {"Play", f.Command1}, {"Stop", f.Command2}, {"Save", f.Command7}, {"Selected", f.Command9}};
    for (const QString &step : steps.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
        const QStringList word = step.split(' ');
        const QString what = word[0], path = "/m/" + word.value(1);
        const double n = word.value(1).toDouble();
        const QPoint on(int(n), f.H->height() / 2);
        if (what == "refuse") w.player.refused << path;
        if (what == "open" && word.size() == 1) w.click(f.Command4); // no answer: cancelled
        else if (what == "open" || what == "refuse") w.open(path, word.value(2).toDouble());
        else if (what == "length") w.player.durations[w.player.fileName()] = n;
        else if (what == "at") w.player.setPosition(n);
        else if (what == "tick") f.T_Timer();
        else if (buttons.contains(what)) w.click(buttons[what]);
        else if (what == "close") f.close();
        else if (what == "key") QTest::keyClick(f.H, QKeySequence(word[1])[0].key());
        else if (what == "press") QTest::mousePress(f.H, Qt::LeftButton, {}, on);
        else if (what == "move") QTest::mouseMove(f.H, on);
        else if (what == "release") QTest::mouseRelease(f.H, Qt::LeftButton, {}, on);
        else if (what == "Start" || what == "End") {
            f.H->setValue(int(n)); // where the last tick left it
            w.player.setPosition(word.value(2, word[1]).toDouble());
            w.click(what == "Start" ? f.Command5 : f.Command6);
        } else QFAIL(qPrintable(step));
    }
}

// 'file' Play-button timer playing-flag | slider/maximum xMarkScale 'position' | lines (twips) 'start' 'end'
// 'length' | messages (first lines)
QString shown(const WindowFixture &w)
{
    const Form1 &f = *w.form;
    const auto n = [](double v) { return QString::number(v); };
    const auto x = [&](const MarkerLine *l) { return n(l->X1()) + (l->X2() == l->X1() ? "" : "~" + n(l->X2())); };
    QStringList said;
    for (const QString &m : w.dialogs.messages)
        said << m.section('\n', 0, 0);
    return QStringLiteral("'%1' %2 %3 %4 | %5/%6 x%7 '%8' | %9 %10 '%11' '%12' '%13'%14")
        .arg(f.state.SourceFile.section('/', -1), f.Command1->text(), QString(f.T->isActive() ? "on" : "off"),
             QString(f.state.IsPlaying ? "playing" : "idle"), n(f.H->value()), n(f.H->maximum()),
             n(f.state.MarkScale), f.Label4->text(), x(f.Line1), x(f.Line2), f.Label7->text())
        .arg(f.Label9->text(), f.Label3->text(), said.isEmpty() ? "" : " | " + said.join('/'));
}
} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    QList<QUrl> opened;
public slots:
    void openInBrowser(const QUrl &url) { opened << url; } // stands in for the system's browser
private slots:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openInBrowser"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    void layout() // in pixels, in each control's container; read-outs start blank
    {
        WindowFixture w;
        const Form1 &f = *w.form;
        const QList<std::tuple<QWidget *, QRect, QString>> controls{
            {f.WebBrowser1, {0, 520, 641, 89}, ""}, {f.mp, {11, 64, 620, 349}, ""},
            {f.Command5, {183, 12, 90, 22}, "Mark Start"}, {f.Command6, {280, 12, 90, 22}, "Mark End"},
            {f.Command9, {378, 13, 102, 22}, "Play Selected"}, {f.Frame1, {124, 1, 397, 58}, ""},
            {f.Label7, {73, 41, 63, 12}, ""}, {f.Label9, {169, 41, 61, 12}, ""}, {f.Label3, {270, 41, 67, 12}, ""},
            {f.H, {7, 429, 628, 25}, ""}, {f.Command3, {305, 463, 79, 22}, "Website"},
            {f.Command7, {233, 463, 67, 22}, "Save"}, {f.Command4, {161, 463, 67, 22}, "Open"},
            {f.Command2, {88, 463, 67, 22}, "Stop"}, {f.Command1, {15, 463, 67, 22}, "Play"},
            {f.pb, {9, 494, 627, 26}, "0%"}, {f.Label1, {394, 468, 184, 16}, "Unable to play? Get DVD codecs now"},
            {f.Label4, {544, 48, 87, 16}, ""},
            {f.Line1, {15, 420, 2, 7}, ""}, {f.Line2, {624, 420, 2, 7}, ""}}; // 2 px round 240 and 9375 twips
        for (const auto &[c, pixels, caption] : controls) {
            const QString text = c->property("text").toString();
            QCOMPARE(QPair(c->geometry(), text), QPair(pixels, caption));
            QVERIFY2(c->isVisible(), qPrintable(text));
            const int width = c->fontMetrics().horizontalAdvance(text); // Liberation Sans fits
            QVERIFY2(width <= c->width(), qPrintable(QStringLiteral("%1: %2 px").arg(text).arg(width)));
        }
    }

    void startUpAndLinks()
    {
        WindowFixture w;
        Form1 &f = *w.form;
        QCOMPARE((QList<QSize>{f.minimumSize(), f.maximumSize()}), (QList<QSize>{{642, 604}, {642, 604}}));
        QCOMPARE(f.windowTitle(), QStringLiteral("Morvane 1.0"));
        QCOMPARE(f.windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {24, 24}, {32, 32}, {48, 48}}));
        QCOMPARE(QPair(f.H->minimum(), f.H->maximum()), QPair(0, 10));
        QCOMPARE(QPair(f.pb->minimum(), f.pb->maximum()), QPair(0, 100));
        QCOMPARE(QUrl::toStringList(w.web.visited).join(' '),
                 web::infoServer().resolved(QUrl("/info.php?n=morvane")).toString());
        QList<QWidget *> stops; // tab from the slider round the window and back; nothing else takes the focus
        for (QWidget *at = f.H; stops.size() < 14 && at; at = at->nextInFocusChain())
            if (at->focusPolicy() & Qt::TabFocus)
                stops << at;
        QCOMPARE(stops, (QList<QWidget *>{f.H, f.Command1, f.Command2, f.Command4, f.Command7, f.Command3,
                                          f.Command9, f.Command6, f.Command5, f.Check1, f.mp, f.Label1,
                                          f.WebBrowser1, f.H}));
        w.click(f.Command3);
        w.click(f.Label1);
        QCOMPARE(QUrl::toStringList(opened).join(' '), web::makerSite().resolved(QUrl("/")).toString() + ' '
                     + web::makerSite().resolved(QUrl("/codecdownload.html")).toString());
    }

    void openDialogStartsEmpty() // never with the last file's name
    {
        WindowFixture w;
        w.open("/m/a.vob");
        w.open("/m/b.vob");
        QCOMPARE(w.dialogs.openDialogs.value(1), "VOB Files (*.vob)|*.vob|All Files (*.*)|*.*; ");
    }

    void session_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QString>("shown");
        const QString reset = "'0 : 0 : 0' '0 : 0 : 0' '0 : 0 : 0'", fresh = "| 170 9400 " + reset;
        const QString marked = "| 1093 4022 ' 0 : 0 : 10' ' 0 : 0 : 40' ' 0 : 0 : 30'";
        QTest::newRow("no file") << "Play, Stop, Start 5, End 9, Selected, Save, close" << ""
            << "'' Play off idle | 9/10 x0 '' | 240 9375 '' '' '' | Wrong Selection/Wrong Selection";
        QTest::newRow("Play pauses") << "open a.vob 100, at 42, tick; Play" << "Pause"
            << "'a.vob' Play off idle | 42/100 x92 ' 0 : 0 : 42' " + fresh;
        QTest::newRow("Play resumes through Pause") << "open a.vob 100, at 42, tick, Play; Play" << "Pause"
            << "'a.vob' Pause on playing | 42/100 x92 ' 0 : 0 : 42' " + fresh;
        QTest::newRow("Stop while playing") << "open a.vob 100, at 42, tick; Stop" << "Seek(0), Pause"
            << "'a.vob' Play off idle | 0/100 x92 '0 : 0 : 0' " + fresh;
        QTest::newRow("Stop while paused: no Pause") << "open a.vob 100, at 42, tick, Play; Stop" << "Seek(0)"
            << "'a.vob' Play off idle | 0/100 x92 '0 : 0 : 0' " + fresh;
        // Play after Stop names the file again and sets the slider range and the scale from its length.
        const QString restart = "open a.vob 100, Stop, length ", replay = "FileName(/m/a.vob), Play";
        QTest::newRow("restart: 1000 s") << restart + "1000; Play" << replay
            << "'a.vob' Pause on playing | 0/1000 x9 '0 : 0 : 0' " + fresh;
        QTest::newRow("restart: 0.6 s") << restart + "0.6; Play" << replay
            << "'a.vob' Pause on playing | 0/1 x9230 '0 : 0 : 0' " + fresh;
        QTest::newRow("restart: 2.5 s, even") << restart + "2.5; Play" << replay
            << "'a.vob' Pause on playing | 0/2 x4615 '0 : 0 : 0' " + fresh;
        QTest::newRow("restart: 0.4 s") << restart + "0.4; Play" << replay
            << "'a.vob' Play on playing | 0/0 x92 '0 : 0 : 0' " + fresh;
        QTest::newRow("Play at the end") << "open a.vob 100, at 100, tick; Play" << "Seek(0), " + replay
            << "'a.vob' Pause on playing | 100/100 x92 ' 0 : 1 : 40' " + fresh;
        QTest::newRow("Play 0.1 s short of the end") << "open a.vob 100, at 99.9, tick; Play" << ""
            << "'a.vob' Pause on playing | 100/100 x92 ' 0 : 1 : 40' " + fresh;
        QTest::newRow("tick at 10.5 s: ties to even") << "open a.vob 100, at 10.5; tick" << ""
            << "'a.vob' Pause on playing | 10/100 x92 ' 0 : 0 : 10' " + fresh;
        QTest::newRow("tick at 11.5 s: ties to even") << "open a.vob 100, at 11.5; tick" << ""
            << "'a.vob' Pause on playing | 12/100 x92 ' 0 : 0 : 12' " + fresh;
        QTest::newRow("tick at 99.5 of 100 s: the end") << "open a.vob 100, at 99.5; tick" << ""
            << "'a.vob' Play off playing | 100/100 x92 ' 0 : 1 : 40' " + fresh;
        QTest::newRow("tick past ten hours") << "open a.vob 50000, at 40000.4; tick" << ""
            << "'a.vob' Pause on playing | 40000/50000 x0 ' 11 : 6 : 40' " + fresh;
        QTest::newRow("slider clicked, paused") << "open a.vob 100, Play; press 314, release 314" << "Seek(50)"
            << "'a.vob' Play off idle | 50/100 x92 '' " + fresh;
        QTest::newRow("slider held and dragged") << "open a.vob 100; press 2, move 700" << ""
            << "'a.vob' Pause off playing | 100/100 x92 '' " + fresh;
        QTest::newRow("slider released after a drag") << "open a.vob 100; press 2, move 700, release 700"
            << "Seek(100)" << "'a.vob' Pause on playing | 100/100 x92 '' " + fresh;
        QTest::newRow("slider keys seek") << "open a.vob 100, at 42, tick; key Right, key Left, key PgUp, key Home"
            << "Seek(43), Seek(42), Seek(52), Seek(0)" << "'a.vob' Pause on playing | 0/100 x92 ' 0 : 0 : 42' " + fresh;
        QTest::newRow("Open a first file") << "open a.vob 999.5" << "FileName(/m/a.vob), Play"
            << "'a.vob' Pause on playing | 0/1000 x9 '' " + fresh;
        QTest::newRow("Open a second file over marks") << "open a.vob 100, Start 10, End 40; open b.vob 2000"
            << "Seek(0), Pause, Close, FileName(/m/b.vob), Play" << "'b.vob' Pause on playing | 0/2000 x4 '' " + fresh;
        QTest::newRow("Save after a second Open") << "open a.vob 100, Start 10, End 40, open b.vob 2000; Save" << ""
            << "'b.vob' Pause on playing | 0/2000 x4 '' " + fresh + " | Wrong Selection";
        QTest::newRow("Open cancelled") << "open a.vob 100, Start 10, End 40; open" << "Seek(0), Pause"
            << "'a.vob' Play off idle | 0/100 x92 '' " + marked;
        QTest::newRow("Open a refused file") << "open a.vob 100, Start 10, End 40; refuse b.vob"
            << "Seek(0), Pause, Close, FileName(/m/b.vob)"
            << "'' Play off idle | 0/100 x92 '' | 1093 4022 " + reset + " | Cannot play \"/m/b.vob\".";
        QTest::newRow("Open a length rounding to 0") << "open a.vob 0.4" << "FileName(/m/a.vob), Play"
            << "'a.vob' Pause on playing | 0/0 x0 '' | 240 9375 " + reset;
        QTest::newRow("marks: end, then start") << "open a.vob 100; End 40, Start 10" << ""
            << "'a.vob' Pause on playing | 10/100 x92 '' " + marked;
        QTest::newRow("marks: start after end") << "open a.vob 100; Start 60, End 40" << ""
            << "'a.vob' Pause on playing | 40/100 x92 '' | 5708 4022 ' 0 : 1 : 0' ' 0 : 0 : 40' '0 : 0 : 0'";
        QTest::newRow("marks: same second, lines 160 apart") << "open a.vob 100; Start 50, End 50" << ""
            << "'a.vob' Pause on playing | 50/100 x92 '' | 4785 4945 ' 0 : 0 : 50' ' 0 : 0 : 50' '0 : 0 : 0'";
        QTest::newRow("marks: ties to even, lines from slider") << "open a.vob 100; Start 20 22.5, End 50 52.5" << ""
            << "'a.vob' Pause on playing | 50/100 x92 '' | 2016 4945 ' 0 : 0 : 22' ' 0 : 0 : 52' ' 0 : 0 : 30'";
        QTest::newRow("marks: 20000 s in proportion") << "open a.vob 20000; Start 5000, End 15000" << ""
            << "'a.vob' Pause on playing | 15000/20000 x0 '' | 2477 7252 ' 1 : 23 : 20' ' 4 : 10 : 0' ' 2 : 46 : 40'";
        QTest::newRow("close while playing") << "open a.vob 100; close" << "Close"
            << "'' Pause off idle | 0/100 x92 '' " + fresh;
    }
    void session()
    {
        QFETCH(QString, steps);
        WindowFixture w;
        run(w, steps.section("; ", 0, -2)); // the setup; the player's commands count from what follows
        w.player.commands.clear();
        run(w, steps.section("; ", -1));
        QTEST(w.player.commands.join(", "), "commands");
        QTEST(shown(w), "shown");
    }

    // The player runs window events while it loads a file; nothing may start another Open or act on the half-open
    // file then, and closing the window then is no failure to report.
    void eventsWhileLoading_data()
    {
        QTest::addColumn<QString>("load");
        QTest::addColumn<QString>("during");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QString>("shown"); // and the editing controls afterwards
        const QString reset = "'0 : 0 : 0' '0 : 0 : 0' '0 : 0 : 0'", load = "Seek(0), Pause, Close, FileName(/m/b.vob)";
        const QString closed = "'' Play off idle | 0/100 x92 '' | 1093 4022 " + reset + " locked at 0";
        QTest::newRow("clicks") << "open b.vob 200" << "Save, Selected, open c.vob 50" << load + ", Play"
            << "'b.vob' Pause on playing | 0/200 x46 '' | 170 9400 " + reset + " free at 0";
        QTest::newRow("window closed") << "open b.vob 200" << "close" << load << closed;
        QTest::newRow("closed, file refused") << "refuse b.vob" << "close" << load << closed;
        const QString marks = "| 1093 4022 ' 0 : 0 : 10' ' 0 : 0 : 40' ' 0 : 0 : 30'";
        const QString reload = "Seek(0), Pause, FileName(/m/a.vob), ";
        QTest::newRow("Play after Stop") << "Stop, Play" << "open c.vob 50" << reload + "Play"
            << "'a.vob' Pause on playing | 0/100 x92 '0 : 0 : 0' " + marks + " free at 0";
        QTest::newRow("closed in Play after Stop") << "Stop, Play" << "close" << reload + "Close"
            << "'' Play off idle | 0/100 x92 '0 : 0 : 0' " + marks + " locked at 0";
    }
    void eventsWhileLoading()
    {
        QFETCH(QString, load);
        QFETCH(QString, during);
        WindowFixture w;
        run(w, "open a.vob 100, Start 10, End 40");
        w.player.commands.clear();
        QString seen;
        w.player.whileLoading = [&] { seen = w.editing(); run(w, during); };
        run(w, load);
        QCOMPARE(seen, "locked at 0");
        QTEST(w.player.commands.join(", "), "commands");
        QTEST(shown(w) + " " + w.editing(), "shown");
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
