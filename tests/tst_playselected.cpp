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
    // Playing at 5 s of a 12.6 s file, marks at 10 and end; event: the button of that caption clicked, or the window
    // closed, once a position read gives 11 s.
    void runs_data()
    {
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<State>("state");
        QTest::addColumn<double>("position");
        QTest::newRow("stops at the end mark") << 12 << ""
                                               << "Seek(10) Pause" << State::Paused << 12.0;
        QTest::newRow("start equals end") << 10 << ""
                                          << "" << State::Playing << 5.0;
        QTest::newRow("Mark End moves the stop") << 12 << "Mark End"
                                                 << "Seek(10) Pause" << State::Paused << 11.5;
        QTest::newRow("Pause, not undone") << 12 << "Pause"
                                           << "Seek(10) Pause" << State::Paused << 11.0;
        QTest::newRow("Open pauses the new file")
            << 12 << "Open"
            << "Seek(10) Seek(0) Pause Close FileName(/m/b.vob) Play Pause" << State::Paused << 0.25;
        QTest::newRow("window closed") << 12 << "close"
                                       << "Seek(10) Close" << State::Closed << 0.0;
    }
    void runs()
    {
        QFETCH(int, end);
        QFETCH(QString, event);
        WindowFixture w;
        Form1 &f = *w.form;
        w.open("/m/a.vob", 12.6);
        f.T->setInterval(3'600'000); // a tick would read the position too
        w.mark(10, end);
        f.H->setValue(5);
        f.H_Click();
        w.click(f.Command1);
        w.dialogs.openAnswers << "/m/b.vob";
        w.player.commands.clear();
        w.player.onRead = [&](double position) { // the event runs with the window's next events
            if (position != 11 || event.isEmpty())
                return;
            QTimer::singleShot(0, &f, [&f, what = std::exchange(event, QString())] {
                if (what == "close")
                    f.close();
                for (QPushButton *b : f.findChildren<QPushButton *>())
                    if (b->text() == what)
                        QTest::mouseClick(b, Qt::LeftButton);
            });
        };
        w.player.step = 0.25;
        QTimer::singleShot(10'000, &f, [&] { f.close(); }); // a loop that never ended would hang the test
        w.click(f.Command9);
        QTEST(w.player.commands.join(' '), "commands");
        QTEST(w.player.state(), "state");
        QTEST(w.player.position(), "position");
        const bool refused = end == 10;
        QCOMPARE(f.Command1->text(), refused || !f.isVisible() ? "Pause" : "Play");
        QCOMPARE(f.T->isActive(), refused);
        QCOMPARE(w.dialogs.messages, refused ? QStringList{"Wrong Selection"} : QStringList());
    }
};

QTEST_MAIN(TestPlaySelected)
#include "tst_playselected.moc"
