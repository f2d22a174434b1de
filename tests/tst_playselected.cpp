// Play Selected as a user drives it: where the ranged play stops, and what may happen while it runs.
#include "support/WindowFixture.h"

#include <QTimer>

using namespace morvane;
using namespace morvane::test;

class TestPlaySelected : public QObject {
    Q_OBJECT
private slots:
    void runs_data()
    {
        QTest::addColumn<QString>("from"); // the player at 5 s of a 12.6 s file: playing, paused or stopped
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("event"); // "Stop 11": Stop clicked once a position read gives 11 s
        QTest::addColumn<QString>("outcome"); // commands | player | caption, timer | messages
        const QString done = "Seek(10), Pause | paused at 12 | Play off";
        QTest::newRow("playing: stops at the end mark") << "playing" << 10 << 12 << "" << done;
        QTest::newRow("paused: resumes through Pause") << "paused" << 10 << 12 << "" << "Pause, " + done;
        QTest::newRow("stopped: starts the file again") << "stopped" << 10 << 12 << ""
            << "FileName(/m/a.vob), Play, " + done;
        QTest::newRow("start equals end") << "playing" << 10 << 10 << ""
            << " | playing at 5 | Pause on | Wrong Selection";
        QTest::newRow("start after end") << "paused" << 11 << 10 << "" << " | paused at 5 | Play off | Wrong Selection";
        QTest::newRow("Mark End moves the stop") << "playing" << 10 << 12 << "End 10.5"
            << "Seek(10), Pause | paused at 11 | Play off";
        QTest::newRow("Pause, not undone by the loop") << "playing" << 10 << 12 << "Pause 11"
            << "Seek(10), Pause | paused at 11 | Play off";
        QTest::newRow("Stop") << "playing" << 10 << 12 << "Stop 11"
            << "Seek(10), Seek(0), Pause | paused at 0 | Play off";
        QTest::newRow("nested Play Selected") << "playing" << 10 << 12 << "Selected 11" << "Seek(10), " + done;
        QTest::newRow("Open pauses the new file") << "playing" << 10 << 12 << "Open 11"
            << "Seek(10), Seek(0), Pause, Close, FileName(/m/b.vob), Play, Pause | paused at 0.25 | Play off";
        QTest::newRow("end of the file, seen by the tick") << "playing" << 10 << 13 << "tick 12.5"
            << "Seek(10), Pause | stopped at 12.6 | Play off";
        QTest::newRow("window closed") << "playing" << 10 << 12 << "close 11"
            << "Seek(10), Close | closed at 0 | Pause off";
    }
    void runs()
    {
        QFETCH(QString, from);
        QFETCH(QString, event);
        QFETCH(int, start);
        QFETCH(int, end);
        WindowFixture w;
        Form1 &f = *w.form;
        w.open("/m/a.vob", 12.6);
        f.T->setInterval(3'600'000); // a tick reads the position too; the row that needs one raises it
        w.mark(start, end);
        f.H->setValue(5);
        f.H_Click();
        if (from != "paused")
            w.click(from == "playing" ? f.Command1 : f.Command2);
        w.dialogs.openAnswers << "/m/b.vob";
        w.player.commands.clear();

        const QHash<QString, QPushButton *> buttons{{"Pause", f.Command1}, {"Stop", f.Command2}, {"Open", f.Command4},
                                                    {"End", f.Command6}, {"Selected", f.Command9}};
        const QString what = event.section(' ', 0, 0);
        bool raised = event.isEmpty();
        w.player.onRead = [&](double at) { // the event runs with the window's next events
            if (raised || at != event.section(' ', 1).toDouble())
                return;
            raised = true;
            QTimer::singleShot(0, &f, [&] {
                what == "close" ? void(f.close()) : what == "tick" ? f.T_Timer() : w.click(buttons[what]);
            });
        };
        w.player.step = 0.25;
        QTimer::singleShot(10'000, &f, [&] { f.close(); }); // a loop that never ended would hang the test
        w.click(f.Command9);

        const char *states[] = {"closed", "stopped", "playing", "paused"};
        const QString said = w.dialogs.messages.isEmpty() ? "" : " | " + w.dialogs.messages.join('/');
        QTEST(QStringLiteral("%1 | %2 at %3 | %4 %5%6")
                  .arg(w.player.commands.join(", "), states[int(w.player.state())])
                  .arg(w.player.position())
                  .arg(f.Command1->text(), f.T->isActive() ? "on" : "off", said),
              "outcome");
    }
};

QTEST_MAIN(TestPlaySelected)
#include "tst_playselected.moc"
