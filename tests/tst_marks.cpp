// Mark Start and Mark End: the mark from the player's position, the marker
// line from the slider value, and the three read-outs.

#include "support/WindowFixture.h"

using namespace morvane;
using namespace morvane::test;

namespace {
// One click of a mark button: the last tick saw sliderAt, the player is at
// playerAt when the button is clicked.
struct Mark {
    bool start;
    double sliderAt;
    double playerAt;
};
} // namespace
Q_DECLARE_METATYPE(Mark)

class TestMarks : public QObject {
    Q_OBJECT
private slots:
    void marks_data();
    void marks();
    void noFileOpen();
    void unreadablePosition();
};

void TestMarks::marks_data()
{
    QTest::addColumn<double>("duration");
    QTest::addColumn<Mark>("first");
    QTest::addColumn<Mark>("second");
    QTest::addColumn<int>("startSecond");
    QTest::addColumn<int>("endSecond");
    QTest::addColumn<float>("line1");
    QTest::addColumn<float>("line2");
    QTest::addColumn<QString>("label7");
    QTest::addColumn<QString>("label9");
    QTest::addColumn<QString>("label3AfterFirst");
    QTest::addColumn<QString>("label3");
    const QString reset = QStringLiteral("0 : 0 : 0");

    // Lines: offset + value * 9230 / maximum, truncated.
    QTest::newRow("start then end")
        << 5000.0 << Mark{true, 65, 65} << Mark{false, 3790, 3790} << 65 << 3790 << 289.0f << 7326.0f
        << " 0 : 1 : 5" << " 1 : 3 : 10" << reset << " 1 : 2 : 5";
    // The start is still 0 when the end is marked, so the length counts from 0.
    QTest::newRow("end then start")
        << 100.0 << Mark{false, 40, 40} << Mark{true, 10, 10} << 10 << 40 << 1093.0f << 4022.0f
        << " 0 : 0 : 10" << " 0 : 0 : 40" << " 0 : 0 : 40" << " 0 : 0 : 30";
    QTest::newRow("start after end")
        << 100.0 << Mark{true, 60, 60} << Mark{false, 40, 40} << 60 << 40 << 5708.0f << 4022.0f
        << " 0 : 1 : 0" << " 0 : 0 : 40" << reset << reset;
    QTest::newRow("same second, lines 160 apart")
        << 100.0 << Mark{true, 50, 50} << Mark{false, 50, 50} << 50 << 50 << 4785.0f << 4945.0f
        << " 0 : 0 : 50" << " 0 : 0 : 50" << reset << reset;
    QTest::newRow("ties to even")
        << 100.0 << Mark{true, 12.5, 12.5} << Mark{false, 13.5, 13.5} << 12 << 14 << 1277.0f << 1622.0f
        << " 0 : 0 : 12" << " 0 : 0 : 14" << reset << " 0 : 0 : 2";
    // While playing the player has moved on since the last tick.
    QTest::newRow("line from the slider, mark from the player")
        << 100.0 << Mark{true, 20, 21.4} << Mark{false, 50, 50.6} << 21 << 51 << 2016.0f << 4945.0f
        << " 0 : 0 : 21" << " 0 : 0 : 51" << reset << " 0 : 0 : 30";
    QTest::newRow("whole track")
        << 1000.0 << Mark{true, 0, 0} << Mark{false, 1000, 1000} << 0 << 1000 << 170.0f << 9560.0f
        << " 0 : 0 : 0" << " 0 : 16 : 40" << reset << " 0 : 16 : 40";
    QTest::newRow("long source in proportion")
        << 20000.0 << Mark{true, 5000, 5000} << Mark{false, 15000, 15000} << 5000 << 15000 << 2477.0f
        << 7252.0f << " 1 : 23 : 20" << " 4 : 10 : 0" << reset << " 2 : 46 : 40";
    QTest::newRow("past ten hours")
        << 40000.0 << Mark{true, 36000, 36000} << Mark{false, 39000, 39000} << 36000 << 39000 << 8477.0f
        << 9329.0f << " 10 : 0 : 0" << " 10 : 50 : 0" << reset << " 0 : 50 : 0";
    // value * 9230 no longer fits in 32 bits.
    QTest::newRow("83 hours")
        << 300000.0 << Mark{true, 250000, 250000} << Mark{false, 290000, 290000} << 250000 << 290000
        << 7861.0f << 9252.0f << " 69 : 26 : 40" << " 80 : 33 : 20" << reset << " 11 : 6 : 40";
}

void TestMarks::marks()
{
    QFETCH(double, duration);
    QFETCH(Mark, first);
    QFETCH(Mark, second);
    WindowFixture w;
    Form1 &f = *w.form;
    w.open(QStringLiteral("/media/a.vob"), duration);
    w.player.speed = 0;

    const Mark marks[] = {first, second};
    for (const Mark &m : marks) {
        w.player.setPosition(m.sliderAt);
        f.T_Timer();
        w.player.setPosition(m.playerAt);
        w.click(m.start ? f.Command5 : f.Command6);
        if (&m == &marks[0])
            QTEST(f.Label3->text(), "label3AfterFirst");
    }

    QTEST(f.state.StartSecond, "startSecond");
    QTEST(f.state.EndSecond, "endSecond");
    QTEST(f.Line1->X1(), "line1");
    QTEST(f.Line1->X2(), "line1");
    QTEST(f.Line2->X1(), "line2");
    QTEST(f.Line2->X2(), "line2");
    QTEST(f.Label7->text(), "label7");
    QTEST(f.Label9->text(), "label9");
    QTEST(f.Label3->text(), "label3");
}

void TestMarks::noFileOpen()
{
    WindowFixture w;
    Form1 &f = *w.form;
    w.click(f.Command5);
    w.click(f.Command6);

    QVERIFY(w.player.calls.isEmpty());
    QCOMPARE(f.Line1->X1(), 240.0f);
    QCOMPARE(f.Line2->X1(), 9375.0f);
    QCOMPARE(f.Label7->text(), QString());
    QCOMPARE(f.Label9->text(), QString());
    QCOMPARE(f.Label3->text(), QString());
}

void TestMarks::unreadablePosition()
{
    // The line has moved already; the mark and its read-outs stay.
    WindowFixture w;
    Form1 &f = *w.form;
    w.open(QStringLiteral("/media/a.vob"), 100);
    w.player.speed = 0;
    w.player.setPosition(30);
    f.T_Timer();
    w.player.failing << QStringLiteral("CurrentPosition");

    w.click(f.Command5);

    QCOMPARE(f.Line1->X1(), 2939.0f);
    QCOMPARE(f.state.StartSecond, 0);
    QCOMPARE(f.Label7->text(), QStringLiteral("0 : 0 : 0"));
    QCOMPARE(f.Label3->text(), QStringLiteral("0 : 0 : 0"));
}

QTEST_MAIN(TestMarks)
#include "tst_marks.moc"
