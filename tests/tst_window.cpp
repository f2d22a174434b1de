// The window: its layout as it opens, the two links, and sessions with a file driven through the controls.

#include "app/ui/WebAddresses.h"
#include "support/WindowFixture.h"

#include <QDesktopServices>

using namespace morvane;
using namespace morvane::test;

namespace {
// Steps: "open a.vob 100" (100 s long; "open" alone cancels), "refuse b.vob", "length 2.5" (when named again),
// "at 42" (the player's position), "tick", "Play", "Stop", "close", "press/move/release 314" (the mouse on the
// slider at x), "Start 20 22.5" (slider at 20, player at 22.5), "End 40".
void run(WindowFixture &w, const QString &steps)
{
    Form1 &f = *w.form;
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
        else if (what == "Play" || what == "Stop") w.click(what == "Play" ? f.Command1 : f.Command2);
        else if (what == "close") f.close();
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

// 'file' Play-button timer playing-flag | slider/maximum xMarkScale 'position' | lines (twips) 'start' 'end' 'length'.
QString shown(const Form1 &f)
{
    const auto n = [](double v) { return QString::number(v); };
    const auto x = [&](const MarkerLine *l) { return n(l->X1()) + (l->X2() == l->X1() ? "" : "~" + n(l->X2())); };
    return QStringLiteral("'%1' %2 %3 %4 | %5/%6 x%7 '%8' | %9 %10 '%11' '%12' '%13'")
        .arg(f.state.SourceFile.section('/', -1), f.Command1->text(), QString(f.T->isActive() ? "on" : "off"),
             QString(f.state.IsPlaying ? "playing" : "idle"), n(f.H->value()), n(f.H->maximum()), n(f.state.MarkScale),
             f.Label4->text(), x(f.Line1), x(f.Line2), f.Label7->text(), f.Label9->text(), f.Label3->text());
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

    void geometry_data()
    {
        QTest::addColumn<QRect>("pixels"); // in the control's container
        QTest::addColumn<QString>("caption");
        QTest::newRow("WebBrowser1") << QRect(0, 520, 641, 89) << "";
        QTest::newRow("mp") << QRect(11, 64, 620, 349) << "";
        QTest::newRow("Command5") << QRect(183, 12, 90, 22) << "Mark Start";
        QTest::newRow("Command6") << QRect(280, 12, 90, 22) << "Mark End";
        QTest::newRow("Command9") << QRect(378, 13, 102, 22) << "Play Selected";
        QTest::newRow("Frame1") << QRect(124, 1, 397, 58) << "";
        QTest::newRow("Label7") << QRect(73, 41, 63, 12) << "";
        QTest::newRow("Label9") << QRect(169, 41, 61, 12) << "";
        QTest::newRow("Label3") << QRect(270, 41, 67, 12) << "";
        QTest::newRow("H") << QRect(7, 429, 628, 25) << "";
        QTest::newRow("Command3") << QRect(305, 463, 79, 22) << "Website";
        QTest::newRow("Command7") << QRect(233, 463, 67, 22) << "Save";
        QTest::newRow("Command4") << QRect(161, 463, 67, 22) << "Open";
        QTest::newRow("Command2") << QRect(88, 463, 67, 22) << "Stop";
        QTest::newRow("Command1") << QRect(15, 463, 67, 22) << "Play";
        QTest::newRow("pb") << QRect(9, 494, 627, 26) << "0%";
        QTest::newRow("Label1") << QRect(394, 468, 184, 16) << "Unable to play? Get DVD codecs now";
        QTest::newRow("Label4") << QRect(544, 48, 87, 16) << "";
        QTest::newRow("Line1") << QRect(15, 420, 2, 7) << ""; // 2 px around x 240 twips
        QTest::newRow("Line2") << QRect(624, 420, 2, 7) << ""; // and 9375 twips
    }
    void geometry()
    {
        WindowFixture w;
        Form1 &f = *w.form;
        const QHash<QString, QWidget *> controls{{"WebBrowser1", f.WebBrowser1}, {"mp", f.mp}, {"Frame1", f.Frame1},
            {"Command5", f.Command5}, {"Command6", f.Command6}, {"Command9", f.Command9}, {"Label7", f.Label7},
            {"Label9", f.Label9}, {"Label3", f.Label3}, {"H", f.H}, {"Command3", f.Command3}, {"Command7", f.Command7},
            {"Command4", f.Command4}, {"Command2", f.Command2}, {"Command1", f.Command1}, {"pb", f.pb},
            {"Label1", f.Label1}, {"Label4", f.Label4}, {"Line1", f.Line1}, {"Line2", f.Line2}};
        QWidget *c = controls.value(QTest::currentDataTag());
        QVERIFY(c && c->isVisible());
        QTEST(c->geometry(), "pixels");
        const QString text = c->property("text").toString();
        QTEST(text, "caption"); // read-outs start blank
        QVERIFY2(c->fontMetrics().horizontalAdvance(text) <= c->width(), qPrintable(text)); // Liberation Sans fits
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
        QCOMPARE(w.web.visited, QList<QUrl>{web::infoServer().resolved(QUrl("/info.php?n=morvane"))});
        QList<QWidget *> stops; // tab from the slider round the window and back; nothing else takes the focus
        for (QWidget *at = f.H; stops.size() < 14 && at; at = at->nextInFocusChain())
            if (at->focusPolicy() & Qt::TabFocus)
                stops << at;
        QCOMPARE(stops, (QList<QWidget *>{f.H, f.Command1, f.Command2, f.Command4, f.Command7, f.Command3,
                                          f.Command9, f.Command6, f.Command5, f.Check1, f.mp, f.Label1, f.WebBrowser1, f.H}));
        w.click(f.Command3);
        w.click(f.Label1);
        QCOMPARE(opened, (QList<QUrl>{web::makerSite().resolved(QUrl("/")),
                                      web::makerSite().resolved(QUrl("/codecdownload.html"))}));
    }

    void session_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QString>("shown");
        const QString reset = "'0 : 0 : 0' '0 : 0 : 0' '0 : 0 : 0'", fresh = "| 170 9400 " + reset;
        QTest::newRow("no file: Play, Stop, marks, close") << "Play, Stop, Start 5, End 9, close" << ""
            << "'' Play off idle | 9/10 x0 '' | 240 9375 '' '' ''";
        QTest::newRow("Play pauses") << "open a.vob 100, at 42, tick; Play" << "Pause"
            << "'a.vob' Play off idle | 42/100 x92 ' 0 : 0 : 42' " + fresh;
        QTest::newRow("Play resumes through Pause") << "open a.vob 100, at 42, tick, Play; Play" << "Pause"
            << "'a.vob' Pause on playing | 42/100 x92 ' 0 : 0 : 42' " + fresh;
        QTest::newRow("Stop while playing") << "open a.vob 100, at 42, tick; Stop" << "Seek(0), Pause"
            << "'a.vob' Play off idle | 0/100 x92 '0 : 0 : 0' " + fresh;
        QTest::newRow("Stop while paused: no Pause") << "open a.vob 100, at 42, tick, Play; Stop" << "Seek(0)"
            << "'a.vob' Play off idle | 0/100 x92 '0 : 0 : 0' " + fresh;
        // Play after Stop names the file again and sets the slider range and the scale from its length.
        QTest::newRow("restart: 1000 s") << "open a.vob 100, Stop, length 1000; Play" << "FileName(/m/a.vob), Play"
            << "'a.vob' Pause on playing | 0/1000 x9 '0 : 0 : 0' " + fresh;
        QTest::newRow("restart: 0.6 s") << "open a.vob 100, Stop, length 0.6; Play" << "FileName(/m/a.vob), Play"
            << "'a.vob' Pause on playing | 0/1 x9230 '0 : 0 : 0' " + fresh;
        QTest::newRow("restart: 2.5 s, even") << "open a.vob 100, Stop, length 2.5; Play" << "FileName(/m/a.vob), Play"
            << "'a.vob' Pause on playing | 0/2 x4615 '0 : 0 : 0' " + fresh;
        QTest::newRow("restart: 0.4 s") << "open a.vob 100, Stop, length 0.4; Play" << "FileName(/m/a.vob), Play"
            << "'a.vob' Play on playing | 0/0 x92 '0 : 0 : 0' " + fresh;
        QTest::newRow("Play at the end") << "open a.vob 100, at 100, tick; Play" << "Seek(0), FileName(/m/a.vob), Play"
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
        QTest::newRow("slider released after a drag") << "open a.vob 100; press 2, move 700, release 700" << "Seek(100)"
            << "'a.vob' Pause on playing | 100/100 x92 '' " + fresh;
        QTest::newRow("Open a first file") << "open a.vob 999.5" << "FileName(/m/a.vob), Play"
            << "'a.vob' Pause on playing | 0/1000 x9 '' " + fresh;
        QTest::newRow("Open a second file over marks") << "open a.vob 100, Start 10, End 40; open b.vob 2000"
            << "Seek(0), Pause, Close, FileName(/m/b.vob), Play" << "'b.vob' Pause on playing | 0/2000 x4 '' " + fresh;
        QTest::newRow("Open cancelled") << "open a.vob 100, Start 10, End 40; open" << "Seek(0), Pause"
            << "'a.vob' Play off idle | 0/100 x92 '' | 1093 4022 ' 0 : 0 : 10' ' 0 : 0 : 40' ' 0 : 0 : 30'";
        QTest::newRow("Open a refused file") << "open a.vob 100, Start 10, End 40; refuse b.vob"
            << "Seek(0), Pause, Close, FileName(/m/b.vob)" << "'' Play off idle | 0/100 x92 '' | 1093 4022 " + reset;
        QTest::newRow("Open a length rounding to 0") << "open a.vob 0.4" << "FileName(/m/a.vob), Play"
            << "'a.vob' Pause on playing | 0/0 x0 '' | 240 9375 " + reset;
        QTest::newRow("marks: end, then start") << "open a.vob 100; End 40, Start 10" << ""
            << "'a.vob' Pause on playing | 10/100 x92 '' | 1093 4022 ' 0 : 0 : 10' ' 0 : 0 : 40' ' 0 : 0 : 30'";
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
        w.player.clearCalls();
        run(w, steps.section("; ", -1));
        QTEST(w.player.commands().join(", "), "commands");
        QTEST(shown(*w.form), "shown");
        for (const ScriptedDialogs::FileRequest &r : std::as_const(w.dialogs.openRequests)) // never last file's name
            QCOMPARE(r.filter + "; " + r.fileName, QStringLiteral("VOB Files (*.vob)|*.vob|All Files (*.*)|*.*; "));
        QCOMPARE(w.dialogs.messages.size(), int(steps.contains("refuse")));
        QCOMPARE(w.dialogs.messages.filter("\"/m/b.vob\""), w.dialogs.messages); // naming the refused file
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
