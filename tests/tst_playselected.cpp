// Play Selected as a user drives it: what the player is told, when the
// ranged play stops, and what may happen while it runs.

#include "support/WindowFixture.h"

#include "state/TimeText.h"

#include <QSignalSpy>
#include <QTimer>

using namespace morvane;
using namespace morvane::test;

namespace {

// A window with /m/a.vob open, the marks taken at the positions start and
// end, and the calls of the opening and marking forgotten.
struct RangeWindow : WindowFixture {
    RangeWindow(int start, double end, double duration = 200.0)
    {
        open(QStringLiteral("/m/a.vob"), duration);
        player.setPosition(start);
        click(form->Command5);
        player.setPosition(end);
        click(form->Command6);
        player.clearCalls();
    }

    // Does action once the loop has run for about ms, and closes the window
    // should the loop still run long after: a loop that never ends fails
    // instead of hanging.
    void during(int ms, std::function<void()> action)
    {
        QTimer::singleShot(ms, form.get(), std::move(action));
        QTimer::singleShot(8000, form.get(), [this] { form->close(); });
    }

    // The player's commands from the given one on.
    QStringList commandsFrom(const QString &first) const
    {
        const QStringList all = player.commands();
        return all.mid(all.lastIndexOf(first));
    }
};

} // namespace

class TestPlaySelected : public QObject {
    Q_OBJECT
private slots:
    void refused_data();
    void refused();
    void playsTheRangeOnce();
    void waitsWithTheWindowAwake();
    void endedFromOutside_data();
    void endedFromOutside();
    void markEndMovesTheStop();
    void nestedPlaySelected();
    void openingAFileInside();
    void closingTheWindowInside();
};

void TestPlaySelected::refused_data()
{
    QTest::addColumn<bool>("fileOpen");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("no file, both 0: checked before the file") << false << 0 << 0 << QStringList{"Wrong Selection"};
    QTest::newRow("start equals end") << true << 10 << 10 << QStringList{"Wrong Selection"};
    QTest::newRow("start after end") << true << 11 << 10 << QStringList{"Wrong Selection"};
    QTest::newRow("no file, valid marks: silence") << false << 10 << 11 << QStringList{};
}

void TestPlaySelected::refused()
{
    QFETCH(bool, fileOpen);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QStringList, messages);
    WindowFixture w;
    if (fileOpen) {
        w.open(QStringLiteral("/m/a.vob"));
        w.click(w.form->Command1); // paused, timer off
    }
    w.form->state.StartSecond = start;
    w.form->state.EndSecond = end;
    const QString caption = w.form->Command1->text();
    w.player.clearCalls();

    w.click(w.form->Command9);

    QCOMPARE(w.dialogs.messages, messages);
    QVERIFY(w.player.calls.isEmpty());
    QCOMPARE(w.form->Command1->text(), caption);
    QVERIFY(!w.form->T->isActive());
}

// Start 30, end 40 while paused at 120: resumes, jumps to 30, and pauses
// once a pass finds the position at 40 or later.
void TestPlaySelected::playsTheRangeOnce()
{
    RangeWindow w(30, 40);
    w.player.setPosition(120);
    w.click(w.form->Command1); // pause at 120
    w.player.clearCalls();
    w.form->H->setValue(37);
    w.player.speed = 20;

    w.click(w.form->Command9);

    QCOMPARE(w.player.commands(), QStringList({"Pause", "Seek(30)", "Pause"}));
    QCOMPARE(w.player.state(), ScriptedPlayer::State::Paused);
    const double stoppedAt = w.player.currentPosition();
    QVERIFY2(stoppedAt >= 40 && stoppedAt < 48, qPrintable(QString::number(stoppedAt)));
    QCOMPARE(w.form->Command1->text(), QStringLiteral("Play"));
    QVERIFY(!w.form->T->isActive());
    QCOMPARE(w.form->state.IsPlaying, False);
    QCOMPARE(w.form->Label4->text(), FormatHms(w.form->H->value()));
    QVERIFY(w.dialogs.messages.isEmpty());
}

// Window events run while the loop waits, not only between its checks: an
// event due 20 ms in runs before the loop has looked at the player once.
void TestPlaySelected::waitsWithTheWindowAwake()
{
    RangeWindow w(10, 90);
    int positionReadsAtEvent = -1;
    w.during(20, [&] {
        const QStringList calls = w.player.calls;
        positionReadsAtEvent = calls.mid(calls.indexOf("Seek(10)")).count("CurrentPosition");
    });
    w.during(500, [&] { w.click(w.form->Command1); });

    w.click(w.form->Command9);

    QCOMPARE(positionReadsAtEvent, 0);
    QVERIFY(!w.form->isUnloaded());
}

void TestPlaySelected::endedFromOutside_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("label4");
    QTest::addColumn<ScriptedPlayer::State>("player");
    // The loop's own pause gives no second Pause, which would resume.
    QTest::newRow("Pause") << "pause" << QStringList{"Seek(10)", "Pause"} << "" << ScriptedPlayer::State::Paused;
    // The caption is checked before the read-out is written.
    QTest::newRow("Stop") << "stop" << QStringList{"Seek(10)", "Seek(0)", "Pause"} << "0 : 0 : 0"
                          << ScriptedPlayer::State::Paused;
    // Marked at the very end, the file first starts again from its beginning.
    QTest::newRow("end of the file seen by the tick")
        << "end" << QStringList{"Seek(0)", "FileName(/m/a.vob)", "Play", "Seek(10)", "Pause"} << " 0 : 0 : 13"
        << ScriptedPlayer::State::Stopped;
}

void TestPlaySelected::endedFromOutside()
{
    QFETCH(QString, how);
    QFETCH(QStringList, commands);
    QFETCH(QString, label4);
    QFETCH(ScriptedPlayer::State, player);
    // Marked at the end of a 12.6 s file, the end mark 13 lies past what the
    // position reaches; only the tick, seeing the slider at its maximum 13,
    // can end the loop.
    RangeWindow w(10, how == "end" ? 12.6 : 90, how == "end" ? 12.6 : 200.0);
    QCOMPARE(w.form->state.EndSecond, how == "end" ? 13 : 90);
    w.player.speed = how == "end" ? 10 : 1;
    if (how == "pause")
        w.during(300, [&] { w.click(w.form->Command1); });
    else if (how == "stop")
        w.during(300, [&] { w.click(w.form->Command2); });
    else
        w.during(0, [] {});
    w.form->Label4->clear();

    w.click(w.form->Command9);

    QVERIFY(!w.form->isUnloaded());
    QCOMPARE(w.player.commands(), commands);
    QCOMPARE(w.player.state(), player);
    QCOMPARE(w.form->Command1->text(), QStringLiteral("Play"));
    QVERIFY(!w.form->T->isActive());
    QCOMPARE(w.form->state.IsPlaying, False);
    if (how != "pause")
        QCOMPARE(w.form->Label4->text(), label4);
    else
        QCOMPARE(w.form->Label4->text(), FormatHms(w.form->H->value()));
}

void TestPlaySelected::markEndMovesTheStop()
{
    RangeWindow w(10, 90);
    w.player.speed = 10;
    w.during(300, [&] { w.click(w.form->Command6); });

    w.click(w.form->Command9);

    QVERIFY(!w.form->isUnloaded());
    const int end = w.form->state.EndSecond;
    QVERIFY2(end > 10 && end < 30, qPrintable(QString::number(end)));
    const double stoppedAt = w.player.currentPosition();
    QVERIFY2(stoppedAt >= end && stoppedAt < end + 8, qPrintable(QString::number(stoppedAt)));
    QCOMPARE(w.player.commands(), QStringList({"Seek(10)", "Pause"}));
    QCOMPARE(w.form->Command1->text(), QStringLiteral("Play"));
}

// A second Play Selected inside the first plays the range from its start to
// its end; the outer one then leaves without another command.
void TestPlaySelected::nestedPlaySelected()
{
    RangeWindow w(10, 20);
    w.player.speed = 20;
    bool innerReturned = false;
    w.during(100, [&] {
        w.click(w.form->Command9);
        innerReturned = true;
    });

    w.click(w.form->Command9);

    QVERIFY(innerReturned);
    QVERIFY(!w.form->isUnloaded());
    QCOMPARE(w.player.commands(), QStringList({"Seek(10)", "Seek(10)", "Pause"}));
    QCOMPARE(w.player.state(), ScriptedPlayer::State::Paused);
    QVERIFY(w.player.currentPosition() >= 20);
    QCOMPARE(w.form->Command1->text(), QStringLiteral("Play"));
    QVERIFY(!w.form->T->isActive());
}

// Opening another file resets the end mark to 0: the loop leaves at its
// position check and pauses the new file.
void TestPlaySelected::openingAFileInside()
{
    RangeWindow w(10, 90);
    w.player.speed = 1;
    w.during(300, [&] { w.open(QStringLiteral("/m/b.vob"), 50); });

    w.click(w.form->Command9);

    QVERIFY(!w.form->isUnloaded());
    QCOMPARE(w.commandsFrom("FileName(/m/b.vob)"), QStringList({"FileName(/m/b.vob)", "Play", "Pause"}));
    QCOMPARE(w.player.fileName(), QStringLiteral("/m/b.vob"));
    QCOMPARE(w.player.state(), ScriptedPlayer::State::Paused);
    QCOMPARE(w.form->state.EndSecond, 0);
    QCOMPARE(w.form->Command1->text(), QStringLiteral("Play"));
    QVERIFY(!w.form->T->isActive());
}

// Closing the window ends the loop at once; nothing touches the closed
// player afterwards.
void TestPlaySelected::closingTheWindowInside()
{
    RangeWindow w(10, 90);
    w.player.speed = 1;
    QSignalSpy ended(w.form.get(), &Form1::unloaded);
    w.during(300, [&] { w.form->close(); });

    w.click(w.form->Command9);

    QCOMPARE(ended.size(), 1);
    QCOMPARE(w.player.calls.mid(w.player.calls.indexOf("Close")), QStringList{"Close"});
    QCOMPARE(w.player.state(), ScriptedPlayer::State::Closed);
}

QTEST_MAIN(TestPlaySelected)
#include "tst_playselected.moc"
