// Play/Pause and Stop as a user drives them: the player commands given, the
// caption, the timer and the playing flag.

#include "support/WindowFixture.h"

using namespace morvane;
using namespace morvane::test;

class TestPlayback : public QObject {
    Q_OBJECT
private slots:
    void nothingWithoutFile();
    void transitions_data();
    void transitions();
    void playClickSetsRangeAndScale_data();
    void playClickSetsRangeAndScale();
    void failingPlayerEndsQuietly();
};

void TestPlayback::nothingWithoutFile()
{
    WindowFixture w;
    for (QPushButton *b : {w.form->Command1, w.form->Command2, w.form->Command1})
        w.click(b);
    QCOMPARE(w.form->Command1->text(), QStringLiteral("Play"));
    QVERIFY(!w.form->T->isActive());
    QVERIFY(w.form->Label4->text().isEmpty());
    QVERIFY(w.player.calls.isEmpty());
}

// Each row: where the player stands before the click, the buttons clicked,
// then what the player was told and what the user sees.
void TestPlayback::transitions_data()
{
    QTest::addColumn<QString>("setup");      // playing | paused | stopped | ended | nearEnd
    QTest::addColumn<QString>("button");     // play | stop
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("timer");
    QTest::addColumn<bool>("playing");

    QTest::newRow("pause while playing") << "playing" << "play" << QStringList{"Pause"} << "Play" << false << false;
    QTest::newRow("resume through Pause, not Play")
        << "paused" << "play" << QStringList{"Pause"} << "Pause" << true << true;
    QTest::newRow("play after stop restarts the file")
        << "stopped" << "play" << QStringList{"FileName(/m/a.vob)", "Play"} << "Pause" << true << true;
    QTest::newRow("play at the end rewinds and restarts")
        << "ended" << "play" << QStringList{"Seek(0)", "FileName(/m/a.vob)", "Play"} << "Pause" << true << true;
    QTest::newRow("play just short of the end gives no command")
        << "nearEnd" << "play" << QStringList{} << "Pause" << true << true;
    QTest::newRow("stop while playing seeks then pauses")
        << "playing" << "stop" << QStringList{"Seek(0)", "Pause"} << "Play" << false << false;
    QTest::newRow("stop while paused only seeks")
        << "paused" << "stop" << QStringList{"Seek(0)"} << "Play" << false << false;
}

void TestPlayback::transitions()
{
    QFETCH(QString, setup);
    QFETCH(QString, button);
    QFETCH(QStringList, commands);
    QFETCH(QString, caption);
    QFETCH(bool, timer);
    QFETCH(bool, playing);

    WindowFixture w;
    w.open(QStringLiteral("/m/a.vob"), 100.0);
    QCOMPARE(w.form->Command1->text(), QStringLiteral("Pause"));
    w.player.setPosition(42.0);
    if (setup == "paused") {
        w.click(w.form->Command1);
    } else if (setup == "stopped") {
        w.click(w.form->Command2);
    } else if (setup == "ended" || setup == "nearEnd") {
        // The tick saw the end: caption back to "Play", the playing flag still set.
        w.player.setPosition(setup == "ended" ? 100.0 : 99.9);
        w.form->T_Timer();
        QCOMPARE(w.form->Command1->text(), QStringLiteral("Play"));
        QCOMPARE(w.form->state.IsPlaying, True);
    }
    w.player.clearCalls();
    w.form->H->setValue(42);

    w.click(button == "play" ? w.form->Command1 : w.form->Command2);

    QCOMPARE(w.player.commands(), commands);
    QCOMPARE(w.form->Command1->text(), caption);
    QCOMPARE(w.form->T->isActive(), timer);
    QCOMPARE(w.form->state.IsPlaying, playing ? True : False);
    if (button == "stop") {
        QCOMPARE(w.form->H->value(), 0);
        QCOMPARE(w.form->Label4->text(), QStringLiteral("0 : 0 : 0"));
        QCOMPARE(w.player.currentPosition(), 0.0);
    }
}

void TestPlayback::playClickSetsRangeAndScale_data()
{
    QTest::addColumn<double>("duration");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QString>("caption");
    QTest::newRow("0.6 s") << 0.6 << 1 << 9230 << "Pause";
    QTest::newRow("2.5 s ties to even") << 2.5 << 2 << 4615 << "Pause";
    QTest::newRow("3.5 s ties to even") << 3.5 << 4 << 2307 << "Pause";
    QTest::newRow("1000 s") << 1000.0 << 1000 << 9 << "Pause";
    QTest::newRow("20000 s") << 20000.0 << 20000 << 0 << "Pause";
    // Rounds to 0: playback starts but the scale cannot be set; the caption stays.
    QTest::newRow("0.4 s") << 0.4 << 0 << -1 << "Play";
}

void TestPlayback::playClickSetsRangeAndScale()
{
    QFETCH(double, duration);
    QFETCH(int, maximum);
    QFETCH(int, scale);
    QFETCH(QString, caption);

    WindowFixture w;
    w.open(QStringLiteral("/m/a.vob"), 50.0);
    w.click(w.form->Command2); // stopped, caption "Play"
    const int scaleBefore = w.form->state.MarkScale;
    // Every Play click sets the range again, not only Open.
    w.player.durations[QStringLiteral("/m/a.vob")] = duration;
    w.click(w.form->Command1);
    QCOMPARE(w.form->H->maximum(), maximum);
    QCOMPARE(w.form->state.MarkScale, scale < 0 ? scaleBefore : scale);
    QCOMPARE(w.form->Command1->text(), caption);
    QVERIFY(w.form->T->isActive());
    QCOMPARE(w.player.state(), ScriptedPlayer::State::Playing);
}

void TestPlayback::failingPlayerEndsQuietly()
{
    WindowFixture w;
    w.open(QStringLiteral("/m/a.vob"));
    w.click(w.form->Command1); // paused
    w.player.failing << QStringLiteral("Pause");
    w.player.setPosition(5);
    w.click(w.form->Command1); // resume fails inside the procedure
    // The handler stopped at the failing step: no caption change, timer not started.
    QCOMPARE(w.form->Command1->text(), QStringLiteral("Play"));
    QVERIFY(!w.form->T->isActive());
    QVERIFY(w.dialogs.messages.isEmpty());
}

QTEST_MAIN(TestPlayback)
#include "tst_playback.moc"
