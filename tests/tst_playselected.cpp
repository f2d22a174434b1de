// Play Selected as a user drives it: where the ranged play stops, and what may happen while it runs.
#include "support/WindowFixture.h"

#include <QTimer>
#include <array>

using namespace morvane;
using namespace morvane::test;

class TestPlaySelected : public QObject {
    Q_OBJECT
private slots:
    void runs_data()
    {
        // The player at 5 s of a 12.6 s file playing, paused or stopped; the marks; "Stop 11": Stop clicked once a
        // position read gives 11 s. Then: commands | player | caption, timer, messages.
        QTest::addColumn<QString>("run");
        QTest::addColumn<QString>("outcome");
        const QString done = "Seek(10), Pause | paused at 12 | Play off";
        const QString at11 = "Seek(10), Pause | paused at 11 | Play off";
        const QList<std::array<QString, 3>> rows{
            {"playing: stops at the end mark", "playing 10 12", done},
            {"paused: resumes through Pause", "paused 10 12", "Pause, " + done},
            {"stopped: starts the file again", "stopped 10 12", "FileName(/m/a.vob), Play, " + done},
            {"start equals end", "playing 10 10", "| playing at 5 | Pause on Wrong Selection"},
            {"Mark End moves the stop", "playing 10 12 End 10.5", at11},
            {"Pause, not undone by the loop", "playing 10 12 Pause 11", at11},
            {"Stop", "playing 10 12 Stop 11", "Seek(10), Seek(0), Pause | paused at 0 | Play off"},
            {"nested Play Selected", "playing 10 12 Selected 11", "Seek(10), " + done},
            {"Open pauses the new file", "playing 10 12 Open 11",
             "Seek(10), Seek(0), Pause, Close, FileName(/m/b.vob), Play, Pause | paused at 0.25 | Play off"},
            {"end of the file, seen by the tick", "playing 10 13 tick 12.5",
             "Seek(10), Pause | stopped at 12.6 | Play off"},
            {"window closed", "playing 10 12 close 11", "Seek(10), Close | closed at 0 | Pause off"}};
        for (const auto &[name, run, outcome] : rows)
            QTest::newRow(qPrintable(name)) << run << outcome;
    }
    void runs()
    {
        QFETCH(QString, run);
        const QStringList word = run.split(' ') << "";
        WindowFixture w;
        Form1 &f = *w.form;
        w.open("/m/a.vob", 12.6);
        f.T->setInterval(3'600'000); // a tick reads the position too; the row that needs one raises it
        w.mark(word[1].toInt(), word[2].toInt());
        f.H->setValue(5);
        f.H_Click();
        if (word[0] != "paused")
            w.click(word[0] == "playing" ? f.Command1 : f.Command2);
        w.dialogs.openAnswers << "/m/b.vob";
        w.player.commands.clear();
        const QHash<QString, QPushButton *> buttons{{"Pause", f.Command1},
                                                    {"Stop", f.Command2},
                                                    {"Open", f.Command4},
                                                    {"End", f.Command6},
                                                    {"Selected", f.Command9}};
        bool raised = word[3].isEmpty();
        w.player.onRead = [&](double at) { // the event runs with the window's next events
            if (!raised && at == word.value(4).toDouble() && (raised = true))
                QTimer::singleShot(0, &f, [&, what = word[3]] {
                    what == "close" ? void(f.close()) : what == "tick" ? f.T_Timer() : w.click(buttons[what]);
                });
        };
        w.player.step = 0.25;
        QTimer::singleShot(10'000, &f, [&] { f.close(); }); // a loop that never ended would hang the test
        w.click(f.Command9);
        QTEST(QStringLiteral("%1 | %2 at %3 | %4 %5 %6")
                  .arg(w.player.commands.join(", "),
                       QStringList{"closed", "stopped", "playing", "paused"}[int(w.player.state())])
                  .arg(w.player.position())
                  .arg(f.Command1->text(), f.T->isActive() ? "on" : "off", w.dialogs.messages.join('/'))
                  .trimmed(),
              "outcome");
    }
};

QTEST_MAIN(TestPlaySelected)
#include "tst_playselected.moc"
