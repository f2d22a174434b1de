// The refresh timer and the slider: the slider follows playback once a
// second, and only the user's click or drag on it moves the player.

#include "support/WindowFixture.h"

#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSlider>

using namespace morvane;
using namespace morvane::test;

namespace {

// Where the user presses to grab the thumb, and where the thumb's centre is
// once the slider shows value v, in the slider's own pixels.
struct SliderGeometry {
    QRect handle, groove;
    int span;

    explicit SliderGeometry(QSlider *s)
    {
        QStyleOptionSlider opt;
        opt.initFrom(s);
        opt.orientation = s->orientation();
        opt.minimum = s->minimum();
        opt.maximum = s->maximum();
        opt.sliderPosition = s->sliderPosition();
        opt.sliderValue = s->value();
        opt.singleStep = s->singleStep();
        opt.pageStep = s->pageStep();
        opt.upsideDown = s->invertedAppearance();
        opt.subControls = QStyle::SC_All;
        handle = s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, s);
        groove = s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, s);
        span = groove.width() - handle.width();
        min = s->minimum();
        max = s->maximum();
    }
    QPoint handleCentreAt(int v) const
    {
        return QPoint(groove.x() + QStyle::sliderPositionFromValue(min, max, v, span) + handle.width() / 2,
                      handle.center().y());
    }
    int min, max;
};

// A file open and playing, with the player's clock stopped so that positions
// are exactly what the test sets.
void openFrozen(WindowFixture &w, double duration)
{
    w.open(QStringLiteral("/media/a.vob"), duration);
    w.player.speed = 0;
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
}

} // namespace

class TestTracking : public QObject {
    Q_OBJECT
private slots:
    void tick_data();
    void tick();
    void ticksFollowPlaybackToTheEnd();
    void sliderMouse_data();
    void sliderMouse();
    void mouseUpAfterTheEndRestartsTheTimer();
    void programAssignmentsDoNotSeek_data();
    void programAssignmentsDoNotSeek();
};

void TestTracking::tick_data()
{
    QTest::addColumn<double>("duration");
    QTest::addColumn<double>("position");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("readOut");
    QTest::addColumn<bool>("end");
    QTest::newRow("10.5 s rounds to even 10") << 100.0 << 10.5 << 10 << " 0 : 0 : 10" << false;
    QTest::newRow("11.5 s rounds to even 12") << 100.0 << 11.5 << 12 << " 0 : 0 : 12" << false;
    QTest::newRow("1 h 2 min 5 s") << 5000.0 << 3725.2 << 3725 << " 1 : 2 : 5" << false;
    QTest::newRow("99.4 of 100 s is not the end") << 100.0 << 99.4 << 99 << " 0 : 1 : 39" << false;
    QTest::newRow("99.5 of 100 s is the end") << 100.0 << 99.5 << 100 << " 0 : 1 : 40" << true;
    QTest::newRow("past ten hours") << 50000.0 << 40000.4 << 40000 << " 11 : 6 : 40" << false;
    QTest::newRow("end at ten hours") << 36000.0 << 36000.0 << 36000 << " 10 : 0 : 0" << true;
}

void TestTracking::tick()
{
    QFETCH(double, duration);
    QFETCH(double, position);
    QFETCH(int, value);
    QFETCH(QString, readOut);
    QFETCH(bool, end);
    WindowFixture w;
    Form1 &f = *w.form;
    openFrozen(w, duration);
    w.player.setPosition(position);
    w.player.clearCalls();

    f.T_Timer();

    QCOMPARE(f.H->value(), value);
    QCOMPARE(f.Label4->text(), readOut);
    QCOMPARE(f.Command1->text(), end ? QStringLiteral("Play") : QStringLiteral("Pause"));
    QCOMPARE(f.T->isActive(), !end);
    QCOMPARE(f.state.IsPlaying, True); // the end of the file does not change it
    QVERIFY(w.player.commands().isEmpty());
}

void TestTracking::ticksFollowPlaybackToTheEnd()
{
    // Four media seconds per wall-clock second: an 8 s file ends at the
    // second tick. The slider moves only on ticks, not in between.
    WindowFixture w;
    Form1 &f = *w.form;
    w.open(QStringLiteral("/media/a.vob"), 8);
    w.player.speed = 4;
    QSignalSpy moves(f.H, &QSlider::valueChanged);

    QTRY_COMPARE_WITH_TIMEOUT(f.Command1->text(), QStringLiteral("Play"), 6000);

    QVERIFY(!f.T->isActive());
    QCOMPARE(f.H->value(), 8);
    QCOMPARE(f.Label4->text(), QStringLiteral(" 0 : 0 : 8"));
    QVERIFY2(moves.size() <= 3, qPrintable(QString::number(moves.size())));
    QVERIFY2(moves.first().first().toInt() >= 3, "the first tick came before a second had passed");
    QCOMPARE(w.player.commands(), QStringList({"FileName(/media/a.vob)", "Play"}));
}

void TestTracking::sliderMouse_data()
{
    QTest::addColumn<bool>("playing");
    QTest::addColumn<bool>("drag"); // otherwise a click on the groove
    QTest::addColumn<int>("target");
    QTest::newRow("drag while playing") << true << true << 60;
    QTest::newRow("drag while paused") << false << true << 75;
    QTest::newRow("click while paused") << false << false << 70;
    QTest::newRow("click while playing") << true << false << 85;
}

void TestTracking::sliderMouse()
{
    QFETCH(bool, playing);
    QFETCH(bool, drag);
    QFETCH(int, target);
    WindowFixture w;
    Form1 &f = *w.form;
    openFrozen(w, 100);
    w.player.setPosition(20);
    f.T_Timer();
    if (!playing)
        w.click(f.Command1);
    QCOMPARE(f.T->isActive(), playing);
    w.player.clearCalls();

    const SliderGeometry g(f.H);
    const QPoint to = g.handleCentreAt(target);
    QVERIFY(!g.handle.contains(to));
    QTest::mousePress(f.H, Qt::LeftButton, {}, drag ? g.handle.center() : to);
    QVERIFY(!f.T->isActive()); // the ticks leave the held thumb alone
    if (drag) {
        for (int step = 1; step <= 4; ++step)
            QTest::mouseMove(f.H, g.handle.center() + (to - g.handle.center()) * step / 4);
        QCOMPARE(f.H->value(), target);
    }
    QVERIFY(w.player.commands().isEmpty()); // nothing seeks before the button is released
    QTest::mouseRelease(f.H, Qt::LeftButton, {}, to);

    QCOMPARE(f.H->value(), target);
    QCOMPARE(w.player.commands(), QStringList({QStringLiteral("Seek(%1)").arg(target)}));
    QCOMPARE(w.player.currentPosition(), double(target));
    QCOMPARE(f.T->isActive(), playing);
    QCOMPARE(f.Label4->text(), QStringLiteral(" 0 : 0 : 20")); // until the next tick
    if (playing) {
        w.player.setPosition(target + 1.2);
        f.T_Timer();
        QCOMPARE(f.H->value(), target + 1);
    }
}

void TestTracking::mouseUpAfterTheEndRestartsTheTimer()
{
    // Playback still counts as running after the tick saw the end, so a
    // release on the slider restarts the timer and the next tick stops it.
    WindowFixture w;
    Form1 &f = *w.form;
    openFrozen(w, 100);
    w.player.setPosition(99.5);
    f.T_Timer();
    QVERIFY(!f.T->isActive());

    const SliderGeometry g(f.H);
    QTest::mouseClick(f.H, Qt::LeftButton, {}, g.handle.center());
    QVERIFY(f.T->isActive());
    f.T_Timer();
    QVERIFY(!f.T->isActive());
    QCOMPARE(f.Command1->text(), QStringLiteral("Play"));
}

enum class Assignment { Tick, SetValue, ShrinkMaximum, Stop };
Q_DECLARE_METATYPE(Assignment)

void TestTracking::programAssignmentsDoNotSeek_data()
{
    QTest::addColumn<Assignment>("assignment");
    QTest::addColumn<int>("value");
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("tick") << Assignment::Tick << 37 << QStringList();
    QTest::newRow("value written") << Assignment::SetValue << 12 << QStringList();
    QTest::newRow("maximum below the value") << Assignment::ShrinkMaximum << 10 << QStringList();
    // Stop seeks to 0 itself; zeroing the slider must not seek a second time.
    QTest::newRow("stop") << Assignment::Stop << 0 << QStringList({"Seek(0)", "Pause"});
}

void TestTracking::programAssignmentsDoNotSeek()
{
    QFETCH(Assignment, assignment);
    QFETCH(int, value);
    QFETCH(QStringList, commands);
    WindowFixture w;
    Form1 &f = *w.form;
    openFrozen(w, 100);
    w.player.setPosition(50);
    f.T_Timer();
    w.player.setPosition(37);
    w.player.clearCalls();

    switch (assignment) {
    case Assignment::Tick: f.T_Timer(); break;
    case Assignment::SetValue: f.H->setValue(12); break;
    case Assignment::ShrinkMaximum: f.H->setMaximum(10); break;
    case Assignment::Stop: w.click(f.Command2); break;
    }

    QCOMPARE(f.H->value(), value);
    QCOMPARE(w.player.commands(), commands);
}

QTEST_MAIN(TestTracking)
#include "tst_tracking.moc"
