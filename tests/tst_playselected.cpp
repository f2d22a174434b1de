// Play Selected as a user drives it: where the ranged play stops, and what may happen while it runs.
#include "support/WindowFixture.h"

#include <QTimer>

using namespace morvane;
using namespace morvane::test;
using State = ScriptedPlayer::State;

Q_DECLARE_METATYPE(State)

class TestPlaySelected : public QObject {
    Q_OBJECT
private slots:
    // The player at 5 s of a 12.6 s file playing, paused or stopped; the marks at 10 and end; event: the button
    // clicked, or the window closed, once a position read gives at seconds.
    void runs_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("event");
        QTest::addColumn<double>("at");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<State>("state");
        QTest::addColumn<double>("position");
        QTest::addColumn<QString>("caption");
        const auto row = [](const char *name, const char *from, int end, const char *event, double at,
                            const QString &commands, State state, double position, const char *caption) {
            QTest::newRow(name) << QString(from) << end << QString(event) << at << commands << state << position
                                << QString(caption);
        };
        const QString done = "Seek(10) Pause";
        row("playing: stops at the end mark", "playing", 12, "", 0, done, State::Paused, 12, "Play");
        row("paused: resumes through Pause", "paused", 12, "", 0, "Pause " + done, State::Paused, 12, "Play");
        row("stopped: starts the file again", "stopped", 12, "", 0, "FileName(/m/a.vob) Play " + done, State::Paused,
            12, "Play");
        row("start equals end", "playing", 10, "", 0, "", State::Playing, 5, "Pause");
        row("Mark End moves the stop", "playing", 12, "End", 10.5, done, State::Paused, 11, "Play");
        row("Pause, not undone by the loop", "playing", 12, "Pause", 11, done, State::Paused, 11, "Play");
        row("Open pauses the new file", "playing", 12, "Open", 11,
            "Seek(10) Seek(0) Pause Close FileName(/m/b.vob) Play Pause", State::Paused, 0.25, "Play");
        row("window closed", "playing", 12, "Close", 11, "Seek(10) Close", State::Closed, 0, "Pause");
    }
    void runs()
    {
        QFETCH(QString, from);
        QFETCH(int, end);
        QFETCH(QString, event);
        QFETCH(double, at);
        QFETCH(QString, caption);
        WindowFixture w;
        Form1 &f = *w.form;
        w.open("/m/a.vob", 12.6);
        f.T->setInterval(3'600'000); // a tick would read the position too
        w.mark(10, end);
        f.H->setValue(5);
        f.H_Click();
        if (from != "paused")
            w.click(from == "playing" ? f.Command1 : f.Command2);
        w.dialogs.openAnswers << "/m/b.vob";
        w.player.commands.clear();
        const QHash<QString, QPushButton *> buttons{{"Pause", f.Command1}, {"Open", f.Command4}, {"End", f.Command6}};
        bool raised = event.isEmpty();
        w.player.onRead = [&](double position) { // the event runs with the window's next events
            if (raised || position != at)
                return;
            raised = true;
            QTimer::singleShot(0, &f, [&] {
                if (event == "Close")
                    f.close();
                else
                    w.click(buttons[event]);
            });
        };
        w.player.step = 0.25;
        QTimer::singleShot(10'000, &f, [&] { f.close(); }); // a loop that never ended would hang the test
        w.click(f.Command9);
        QTEST(w.player.commands.join(' '), "commands");
        QTEST(w.player.state(), "state");
        QTEST(w.player.position(), "position");
        QCOMPARE(f.Command1->text(), caption);
        QCOMPARE(f.T->isActive(), end == 10); // only a refused run leaves the ticks on
        QCOMPARE(w.dialogs.messages, end == 10 ? QStringList{"Wrong Selection"} : QStringList());
    }
};

QTEST_MAIN(TestPlaySelected)
#include "tst_playselected.moc"
