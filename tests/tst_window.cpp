// The window: its layout as it opens, the two links, and sessions with a file driven through the controls.

#include "app/ui/WebAddresses.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QDesktopServices>
#include <QKeySequence>
#include <array>

using namespace morvane;
using namespace morvane::test;

namespace {
// Steps: "open a.vob 100" (100 s; bare "open" cancels), "refuse b.vob", "length 2.5" (when named again), "at 42"
// (the player), "tick", "key Right", "press/move/release 314" (left button on the slider at x), "right/middle 314"
// (a click with that button), "Start 20 22.5" (slider,
// player), "meanwhile close/Play" (steps run while the player loads; nothing may take clicks then), button captions.
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
        if (what == "refuse")
            w.player.refused << path;
        if (what == "open" && word.size() == 1)
            w.click(f.Command4); // no answer: cancelled
        else if (what == "open" || what == "refuse")
            w.open(path, word.value(2).toDouble());
        else if (what == "length")
            w.player.durations[w.player.fileName()] = n;
        else if (what == "at")
            w.player.setPosition(n);
        else if (what == "tick")
            f.T_Timer();
        else if (buttons.contains(what))
            w.click(buttons[what]);
        else if (what == "close")
            f.close();
        else if (what == "meanwhile")
            w.player.whileLoading = [&w, during = step.mid(10).replace('/', ", ")] {
                QCOMPARE(w.editing(), "locked at 0");
                run(w, during);
            };
        else if (what == "key")
            QTest::keyClick(f.H, QKeySequence(word[1])[0].key());
        else if (what == "press")
            QTest::mousePress(f.H, Qt::LeftButton, {}, on);
        else if (what == "move")
            QTest::mouseMove(f.H, on);
        else if (what == "release")
            QTest::mouseRelease(f.H, Qt::LeftButton, {}, on);
        else if (what == "right" || what == "middle")
            QTest::mouseClick(f.H, what == "right" ? Qt::RightButton : Qt::MiddleButton, {}, on);
        else if (what == "Start" || what == "End") {
            f.H->setValue(int(n)); // where the last tick left it
            w.player.setPosition(word.value(2, word[1]).toDouble());
            w.click(what == "Start" ? f.Command5 : f.Command6);
        } else
            QFAIL(qPrintable(step));
    }
}

// What differs from a.vob freshly opened at 100 s: 'file' caption timer playing-flag @slider /maximum xMarkScale
// pos'position' <line1 >line2 (twips) s'start' e'end' l'length' ! messages (first lines) editing
QString shown(const WindowFixture &w)
{
    const Form1 &f = *w.form;
    const auto n = [](double v) { return QString::number(v); };
    const auto x = [&](const MarkerLine *l) { return n(l->X1()) + (l->X2() == l->X1() ? "" : "~" + n(l->X2())); };
    QStringList said, out;
    for (const QString &m : w.dialogs.messages)
        said << m.section('\n', 0, 0);
    const QStringList is{"'" + f.state.SourceFile.section('/', -1) + "'",
                         f.Command1->text(),
                         f.T->isActive() ? "on" : "off",
                         f.state.IsPlaying ? "playing" : "idle",
                         "@" + n(f.H->value()),
                         "/" + n(f.H->maximum()),
                         "x" + n(f.state.MarkScale),
                         "pos'" + f.Label4->text() + "'",
                         "<" + x(f.Line1),
                         ">" + x(f.Line2),
                         "s'" + f.Label7->text() + "'",
                         "e'" + f.Label9->text() + "'",
                         "l'" + f.Label3->text() + "'",
                         said.isEmpty() ? "" : "! " + said.join('/'),
                         w.editing().section(' ', 0, 0)};
    const QString zero = "'0 : 0 : 0'";
    const QStringList usual{"'a.vob'", "Pause", "on",       "playing",  "@0",       "/100", "x92", "pos''",
                            "<170",    ">9400", "s" + zero, "e" + zero, "l" + zero, "",     "free"};
    for (int i = 0; i < is.size(); ++i)
        if (is[i] != usual[i])
            out << is[i];
    return out.join(' ');
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

    void layout() // in pixels, in each control's container; read-outs start blank; Liberation Sans fits
    {
        WindowFixture w;
        const Form1 &f = *w.form;
        QStringList got;
        for (QWidget *c :
             QList<QWidget *>{f.WebBrowser1, f.mp,     f.Command5, f.Command6, f.Command9, f.Frame1,   f.Label7,
                              f.Label9,      f.Label3, f.H,        f.Command3, f.Command7, f.Command4, f.Command2,
                              f.Command1,    f.pb,     f.Label1,   f.Label4,   f.Line1,    f.Line2}) {
            const QString text = c->property("text").toString();
            const int width = c->fontMetrics().horizontalAdvance(text);
            const QRect r = c->geometry();
            got << QStringLiteral("%1 %2 %3 %4 %5").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).arg(text);
            QVERIFY2(c->isVisible() && width <= c->width(), qPrintable(text + ": px " + QString::number(width)));
        }
        QCOMPARE(got.join(", "),
                 "0 520 641 89 , 11 64 620 349 , 183 12 90 22 Mark Start, 280 12 90 22 Mark End, "
                 "378 13 102 22 Play Selected, 124 1 397 58 , 73 41 63 12 , 169 41 61 12 , 270 41 67 12 , "
                 "7 429 628 25 , 305 463 79 22 Website, 233 463 67 22 Save, 161 463 67 22 Open, 88 463 67 22 Stop, "
                 "15 463 67 22 Play, 9 494 627 26 0%, 394 468 184 16 Unable to play? Get DVD codecs now, "
                 "544 48 87 16 , 15 420 2 7 , 624 420 2 7 "); // the lines: 2 px round 240 and 9375 twips
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
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QCOMPARE(QApplication::focusWidget(), f.H); // where the tab order starts
        QList<QWidget *> stops; // tab from the slider round the window and back; nothing else takes the focus
        for (QWidget *at = f.H; stops.size() < 14 && at; at = at->nextInFocusChain())
            if (at->focusPolicy() & Qt::TabFocus)
                stops << at;
        QCOMPARE(stops, (QList<QWidget *>{f.H, f.Command1, f.Command2, f.Command4, f.Command7, f.Command3, f.Command9,
                                          f.Command6, f.Command5, f.Check1, f.mp, f.Label1, f.WebBrowser1, f.H}));
        w.click(f.Command3);
        w.click(f.Label1);
        QCOMPARE(QUrl::toStringList(opened).join(' '),
                 web::makerSite().resolved(QUrl("/")).toString() + ' '
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
        const QString stopped = "Play off idle pos'0 : 0 : 0'";
        const QString marked = "<1093 >4022 s' 0 : 0 : 10' e' 0 : 0 : 40' l' 0 : 0 : 30'";
        const QString restart = "open a.vob 100, Stop, length ", replay = "FileName(/m/a.vob), Play";
        const QString mark = "open a.vob 100, Start 10, End 40; ", load = "Seek(0), Pause, Close, FileName(/m/b.vob)";
        const QString reload = "Seek(0), Pause, FileName(/m/a.vob), ", closed = "'' Play off idle <1093 >4022 locked";
        const QList<std::array<QString, 4>> rows{
            {"no file", "Play, Stop, Start 5, End 9, Selected, Save, close", "",
             "'' Play off idle @9 /10 x0 <240 >9375 s'' e'' l'' ! Wrong Selection/Wrong Selection"},
            {"Play pauses", "open a.vob 100, at 42.5, tick; Play", "Pause", "Play off idle @42 pos' 0 : 0 : 42'"},
            {"Play resumes through Pause", "open a.vob 100, at 42, tick, Play; Play", "Pause", "@42 pos' 0 : 0 : 42'"},
            {"Stop while playing", "open a.vob 100, at 42, tick; Stop", "Seek(0), Pause", stopped},
            {"Stop while paused: no Pause", "open a.vob 100, at 42, tick, Play; Stop", "Seek(0)", stopped},
            // Play after Stop names the file again and sets the slider range and the scale from its length.
            {"restart: 0.6 s", restart + "0.6; Play", replay, "/1 x9230 pos'0 : 0 : 0'"},
            {"restart: 0.4 s", restart + "0.4; Play", replay, "Play /0 pos'0 : 0 : 0'"},
            {"Play at the end", "open a.vob 100, at 100, tick; Play", "Seek(0), " + replay, "@100 pos' 0 : 1 : 40'"},
            {"Play 0.1 s short of the end", "open a.vob 100, at 99.9, tick; Play", "", "@100 pos' 0 : 1 : 40'"},
            {"tick past ten hours, to even", "open a.vob 50000, at 40001.5; tick", "",
             "@40002 /50000 x0 pos' 11 : 6 : 42'"},
            {"tick at 99.5 of 100 s: the end", "open a.vob 100, at 99.5; tick", "", "Play off @100 pos' 0 : 1 : 40'"},
            {"slider clicked, paused", "open a.vob 100, Play; press 314, release 314", "Seek(50)", "Play off idle @50"},
            {"slider held and dragged", "open a.vob 100; press 2, move 700", "", "off @100"},
            {"slider released after a drag", "open a.vob 100; press 2, move 700, release 700", "Seek(100)", "@100"},
            {"slider: right and middle clicks", "open a.vob 100, at 42, tick; right 314, middle 314", "",
             "@42 pos' 0 : 0 : 42'"},
            {"slider keys seek", "open a.vob 100, at 42, tick; key Right, key Left, key PgUp, key Home",
             "Seek(43), Seek(42), Seek(52), Seek(0)", "pos' 0 : 0 : 42'"},
            {"Open a second file over marks", "open a.vob 100, Start 10, End 40; open b.vob 1999.5, Save",
             "Seek(0), Pause, Close, FileName(/m/b.vob), Play", "'b.vob' /2000 x4 ! Wrong Selection"},
            {"Open cancelled", "open a.vob 100, Start 10, End 40; open", "Seek(0), Pause", "Play off idle " + marked},
            {"Open a refused file", "open a.vob 100, Start 10, End 40; refuse b.vob",
             "Seek(0), Pause, Close, FileName(/m/b.vob)", "'' Play off idle <1093 >4022 ! Cannot play \"/m/b.vob\"."},
            {"Open a length rounding to 0", "open a.vob 0.4", replay, "/0 x0 <240 >9375"},
            {"marks: end, then start", "open a.vob 100; End 40, Start 10", "", "@10 " + marked},
            {"marks: start after end", "open a.vob 100; Start 60, End 40", "",
             "@40 <5708 >4022 s' 0 : 1 : 0' e' 0 : 0 : 40'"},
            {"marks: same second, lines 160 apart", "open a.vob 100; Start 50, End 50", "",
             "@50 <4785 >4945 s' 0 : 0 : 50' e' 0 : 0 : 50'"},
            {"marks: ties to even, lines from slider", "open a.vob 100; Start 20 22.5, End 50 52.5", "",
             "@50 <2016 >4945 s' 0 : 0 : 22' e' 0 : 0 : 52' l' 0 : 0 : 30'"},
            {"marks: 20000 s in proportion", "open a.vob 20000; Start 5000, End 15000", "",
             "@15000 /20000 x0 <2477 >7252 s' 1 : 23 : 20' e' 4 : 10 : 0' l' 2 : 46 : 40'"},
            {"close while playing", "open a.vob 100; close", "Close", "'' off idle"},
            // Loading a file runs window events: no other Open, no acting on the half-open file, no failure on close.
            {"clicks while loading", mark + "meanwhile Save/Selected/open c.vob 50, open b.vob 200", load + ", Play",
             "'b.vob' /200 x46"},
            {"closed while loading", mark + "meanwhile close, open b.vob 200", load, closed},
            {"closed, file refused", mark + "meanwhile close, refuse b.vob", load, closed},
            {"Open while Play after Stop loads", mark + "Stop, meanwhile open c.vob 50, Play", reload + "Play",
             "pos'0 : 0 : 0' " + marked},
            {"closed in Play after Stop", mark + "Stop, meanwhile close, Play", reload + "Close",
             "'' Play off idle pos'0 : 0 : 0' " + marked + " locked"}};
        for (const auto &[name, steps, commands, shown] : rows)
            QTest::newRow(qPrintable(name)) << steps << commands << shown;
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
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
