// The window as it opens, its links, and sessions through the controls.

#include "app/ui/WebAddresses.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QDesktopServices>

using namespace morvane;
using namespace morvane::test;

namespace {
using W = WindowFixture;
// Steps; the value is seconds, a slider value or x, or a length.
void tick(W &w, double seconds) { w.tick(seconds); }
void slide(W &w, double value) { w.form->H->setValue(int(value)); }
void at(W &w, double seconds) { w.player.position = seconds; }
void length(W &w, double seconds) { w.player.durations["/m/a.vob"] = seconds; }
void play(W &w, double) { w.click(w.form->Command1); }
void stop(W &w, double) { w.click(w.form->Command2); }
void start(W &w, double) { w.click(w.form->Command5); }
void end(W &w, double) { w.click(w.form->Command6); }
void selected(W &w, double) { w.click(w.form->Command9); }
void save(W &w, double) { w.click(w.form->Command7); }
void open(W &w, double length) // 0: cancelled
{
    if (length == 0)
        w.click(w.form->Command4);
    else
        w.open("/m/b.vob", length);
}
void refuse(W &w, double)
{
    w.player.refused << "/m/a.vob"
                     << "/m/b.vob";
}
void press(W &w, double x) { QTest::mousePress(w.form->H, Qt::LeftButton, {}, QPoint(int(x), 12)); }
void release(W &w, double x) { QTest::mouseRelease(w.form->H, Qt::LeftButton, {}, QPoint(int(x), 12)); }
void right(W &w, double x) { QTest::mouseClick(w.form->H, Qt::RightButton, {}, QPoint(int(x), 12)); }
void move(W &w, double x)
{
    QTest::mouseMove(w.form->H, QPoint(int(x), 12));
    QVERIFY(!w.form->T->isActive()); // held thumb: no ticks
}
void key(W &w, double key) { QTest::keyClick(w.form->H, Qt::Key(int(key))); }
void close(W &w, double) { w.form->close(); }
void loading(W &, double) {} // the next value steps run inside the load

struct Step {
    void (*act)(W &, double);
    double value = 0;
};

void run(W &w, QList<Step> steps)
{
    while (!steps.isEmpty()) {
        const Step s = steps.takeFirst();
        s.act(w, s.value);
        if (s.act != loading)
            continue;
        w.player.whileLoading = [&w, during = steps.mid(0, int(s.value))] {
            QCOMPARE(w.shown().enabled, 0);
            run(w, during);
        };
        steps.remove(0, int(s.value));
    }
}

Shown paused(Shown s)
{
    s.caption = "Play";
    s.timer = false;
    s.playing = False;
    return s;
}

Shown marked(Shown s)
{
    s.lines = {1093, 1093, 4022, 4022};
    s.start = " 0 : 0 : 10";
    s.end = " 0 : 0 : 40";
    s.length = " 0 : 0 : 30";
    return s;
}

struct Session {
    const char *name;
    QList<Step> steps;
    QString commands; // after the opening
    Shown shown;
    double length = 100; // of /m/a.vob; 0: none
};
}

Q_DECLARE_METATYPE(Session)

class TestWindow : public QObject {
    Q_OBJECT
    QList<QUrl> opened;
public slots:
    void openInBrowser(const QUrl &url) { opened << url; }
private slots:
    void initTestCase() { QDesktopServices::setUrlHandler("https", this, "openInBrowser"); }
    void startUp(); // captions fit in Liberation Sans; icon, tab order, links
    void session_data();
    void session();
};

void TestWindow::startUp()
{
    W w;
    Form1 &f = *w.form;
    for (QWidget *c : f.findChildren<QWidget *>()) {
        const QString text = c->property("text").toString();
        QVERIFY2(c->fontMetrics().horizontalAdvance(text) <= c->width(), qPrintable(text));
    }
    QCOMPARE(f.minimumSize(), QSize(642, 604));
    QCOMPARE(f.maximumSize(), QSize(642, 604));
    QCOMPARE(f.mp->geometry(), QRect(11, 64, 620, 349));
    QCOMPARE(f.Command1->geometry(), QRect(15, 463, 67, 22));
    QCOMPARE(f.Line2->geometry(), QRect(624, 420, 2, 7)); // 2 px round 9375 twips
    QCOMPARE(f.windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {24, 24}, {32, 32}, {48, 48}}));
    QCOMPARE(w.web.visited, QList{web::infoServer().resolved(QUrl("/info.php?n=morvane"))});
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QList<QWidget *> stops; // tab from the slider round and back; nothing else
    for (QWidget *at = QApplication::focusWidget(); stops.size() < 14; at = at->nextInFocusChain())
        if (at->focusPolicy() & Qt::TabFocus)
            stops << at;
    QCOMPARE(stops, (QList<QWidget *>{f.H, f.Command1, f.Command2, f.Command4, f.Command7, f.Command3, f.Command9,
                                      f.Command6, f.Command5, f.Check1, f.mp, f.Label1, f.WebBrowser1, f.H}));
    w.click(f.Command3);
    w.click(f.Label1);
    QCOMPARE(opened,
             (QList{web::makerSite().resolved(QUrl("/")), web::makerSite().resolved(QUrl("/codecdownload.html"))}));
    w.open("/m/a.vob");
    w.open("/m/b.vob");
    QCOMPARE(w.dialogs.openDialogs.value(1), "VOB Files (*.vob)|*.vob|All Files (*.*)|*.*; "); // not the last file
}

void TestWindow::session_data()
{
    QTest::addColumn<Session>("s");
    const QList<Step> marks = {{slide, 10}, {at, 10}, {start}, {slide, 40}, {at, 40}, {end}};
    const QString reload = "Seek(0) Pause FileName(/m/a.vob) ";
    const QString toB = "Seek(0) Pause Close FileName(/m/b.vob)";
    const QList<float> firstLines = {240, 240, 9375, 9375};
    const Shown atEnd = {.caption = "Play", .timer = false, .slider = 100, .position = " 0 : 1 : 40"};
    Shown none = paused({.file = "", .slider = 9, .maximum = 10, .scale = 0, .lines = firstLines});
    none.start = "";
    none.end = "";
    none.length = "";
    none.said = {"Wrong Selection", "Wrong Selection"};
    Shown refused = paused({.file = "", .lines = marked({}).lines});
    refused.said = {"Cannot play \"/m/b.vob\".\nthe file is not a playable video"};
    Shown ties = {.slider = 50, .lines = {2016, 2016, 4945, 4945}, .start = " 0 : 0 : 24", .end = " 0 : 0 : 52"};
    ties.length = " 0 : 0 : 28";
    const Session rows[] = {
        {"no file", {{play}, {stop}, {slide, 9}, {start}, {end}, {selected}, {save}, {close}}, "", none, 0},
        {"Play resumes", {{tick, 42.5}, {play}, {play}}, "Pause Pause", {.slider = 42, .position = " 0 : 0 : 42"}},
        {"Stop while paused", {{tick, 42}, {play}, {stop}}, "Pause Seek(0)", paused({.position = "0 : 0 : 0"})},
        // Play after Stop reopens the file, taking its length anew.
        {"restart at 0.4 s",
         {{stop}, {length, 0.4}, {play}},
         reload + "Play",
         {.caption = "Play", .maximum = 0, .position = "0 : 0 : 0"}},
        {"Play after Stop refused",
         {{stop}, {refuse}, {play}},
         reload.trimmed(),
         paused({.position = "0 : 0 : 0", .said = {"Cannot play \"/m/a.vob\".\nthe file is not a playable video"}})},
        {"tick at the end", {{tick, 99.5}}, "", atEnd},
        {"Play at the end",
         {{tick, 100}, {play}},
         "Seek(0) FileName(/m/a.vob) Play",
         {.slider = 100, .position = " 0 : 1 : 40"}},
        {"slider clicked", {{play}, {press, 314}, {release, 314}}, "Pause Seek(50)", paused({.slider = 50})},
        {"slider dragged", {{press, 2}, {move, 700}, {release, 700}, {right, 2}}, "Seek(100)", {.slider = 100}},
        {"slider keys", {{key, Qt::Key_Right}, {key, Qt::Key_Home}}, "Seek(1) Seek(0)", {}},
        {"Open over marks",
         marks + QList<Step>{{open, 1999.5}, {save}},
         toB + " Play",
         {.file = "/m/b.vob", .maximum = 2000, .scale = 4, .said = {"Wrong Selection"}}},
        {"Open cancelled", marks + QList<Step>{{open}}, "Seek(0) Pause", paused(marked({}))},
        {"Open refused", marks + QList<Step>{{refuse}, {open, 100}}, toB, refused},
        {"length rounding to 0", {}, "", {.maximum = 0, .scale = 0, .lines = firstLines}, 0.4},
        {"start after end",
         {{slide, 60}, {at, 60}, {start}, {slide, 40}, {at, 40}, {end}},
         "",
         {.slider = 40, .lines = {5708, 5708, 4022, 4022}, .start = " 0 : 1 : 0", .end = " 0 : 0 : 40"}},
        {"marks round to even", {{slide, 20}, {at, 23.5}, {start}, {slide, 50}, {at, 52.5}, {end}}, "", ties},
        // Loading runs events: no second Open, no use of the half-open file, no failure on close.
        {"clicks while loading",
         marks + QList<Step>{{loading, 3}, {save}, {selected}, {open, 200}, {open, 200}},
         toB + " Play",
         {.file = "/m/b.vob", .maximum = 200, .scale = 46}},
        {"closed while refusing", marks + QList<Step>{{refuse}, {loading, 1}, {close}, {open, 100}}, toB,
         paused({.file = "", .lines = marked({}).lines, .enabled = 0})},
        {"closed in Play after Stop", marks + QList<Step>{{stop}, {loading, 1}, {close}, {play}}, reload + "Close",
         paused(marked({.file = "", .position = "0 : 0 : 0", .enabled = 0}))}};
    for (const Session &row : rows)
        QTest::newRow(row.name) << row;
}

void TestWindow::session()
{
    QFETCH(Session, s);
    W w;
    if (s.length > 0)
        w.open("/m/a.vob", s.length);
    w.player.commands.clear();
    run(w, s.steps);
    QCOMPARE(w.player.commands.join(' '), s.commands);
    QCOMPARE(w.shown(), s.shown);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
