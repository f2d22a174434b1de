// Play Selected: where it stops, and what may happen while it runs.
#include "support/WindowFixture.h"

#include <QTimer>

using namespace morvane;
using namespace morvane::test;
using State = ScriptedPlayer::State;

namespace {
// At the read of 11 s, event clicks the button of that caption or closes the window.
struct Run {
    QString event, commands;
    State state;
    double position;
};
}

Q_DECLARE_METATYPE(Run)

class TestPlaySelected : public QObject {
    Q_OBJECT
private slots:
    void runs_data();
    void runs();
};

void TestPlaySelected::runs_data()
{
    QTest::addColumn<Run>("r");
    const QString go = "Pause Seek(10) "; // resumes at the start mark
    const QString stop = go + "Pause", toB = go + "Seek(0) Pause Close FileName(/m/b.vob) Play Pause";
    QTest::newRow("stops at the end mark") << Run{"", stop, State::Paused, 12.0};
    QTest::newRow("Mark End moves the stop") << Run{"Mark End", stop, State::Paused, 11.5};
    QTest::newRow("Pause, not undone") << Run{"Pause", stop, State::Paused, 11.0};
    QTest::newRow("Open pauses the new file") << Run{"Open", toB, State::Paused, 0.25};
    QTest::newRow("window closed") << Run{"close", go + "Close", State::Closed, 0.0};
}

void TestPlaySelected::runs()
{
    QFETCH(Run, r);
    WindowFixture w;
    Form1 &f = *w.form;
    w.open("/m/a.vob", 12.6);
    f.T->setInterval(3'600'000); // only the play loop reads
    w.mark(10, 12);
    f.H->setValue(5);
    f.H_Click();
    w.dialogs.openAnswers << "/m/b.vob";
    w.player.commands.clear();
    w.player.onRead = [&](double position) { // the event runs after the read
        if (position != 11 || r.event.isEmpty())
            return;
        QTimer::singleShot(0, &f, [&f, what = std::exchange(r.event, QString())] {
            if (what == "close")
                f.close();
            for (QPushButton *b : f.findChildren<QPushButton *>())
                if (b->text() == what)
                    QTest::mouseClick(b, Qt::LeftButton);
        });
    };
    w.player.step = 0.25;
    QTimer::singleShot(10'000, &f, [&] { f.close(); }); // rather than hang
    w.click(f.Command9);
    QCOMPARE(w.player.commands.join(' '), r.commands);
    QCOMPARE(w.player.state, r.state);
    QCOMPARE(w.player.position, r.position);
    QCOMPARE(f.Command1->text(), f.isVisible() ? "Play" : "Pause");
    QVERIFY(!f.T->isActive());
    QCOMPARE(w.dialogs.messages, QStringList());
}

QTEST_MAIN(TestPlaySelected)
#include "tst_playselected.moc"
