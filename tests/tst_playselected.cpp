// Play Selected as a user drives it: where the ranged play stops, and what may happen while it runs.
#include "support/WindowFixture.h"

#include <QTimer>

using namespace morvane;
using namespace morvane::test;
using State = ScriptedPlayer::State;

// From 10 to end on a playing 12.6 s file at five times real speed; button (if
// any) is clicked 100 ms in, and the window closed after closeAfter ms.
struct Run { double end; QPushButton *Form1::*button; int closeAfter; QStringList commands; State state; };

class TestPlaySelected : public QObject {
    Q_OBJECT
private slots:
    void wrongSelectionBeforeNoFile()
    {
        WindowFixture w;
        w.click(w.form->Command9);
        QCOMPARE(w.dialogs.messages, QStringList{"Wrong Selection"});
    }

    void runs_data()
    {
        QTest::addColumn<Run>("r");
        QTest::newRow("stops at the end mark") << Run{12, nullptr, 3000, {"Seek(10)", "Pause"}, State::Paused};
        QTest::newRow("Mark End moves the stop") << Run{13, &Form1::Command6, 3000, {"Seek(10)", "Pause"}, State::Paused};
        QTest::newRow("Pause, not undone by the loop's own pause") << Run{13, &Form1::Command1, 3000, {"Seek(10)", "Pause"}, State::Paused};
        QTest::newRow("Stop") << Run{13, &Form1::Command2, 3000, {"Seek(10)", "Seek(0)", "Pause"}, State::Paused};
        QTest::newRow("end of the file, seen by the tick") << Run{13, nullptr, 3000, {"Seek(10)", "Pause"}, State::Stopped};
        QTest::newRow("nested Play Selected") << Run{12, &Form1::Command9, 3000, {"Seek(10)", "Seek(10)", "Pause"}, State::Paused};
        QTest::newRow("Open: pauses the new file") << Run{13, &Form1::Command4, 3000, {"Seek(10)", "Seek(0)", "Pause", "Close", "FileName(/m/b.vob)", "Play", "Pause"}, State::Paused};
        QTest::newRow("window closed") << Run{13, nullptr, 100, {"Seek(10)", "Close"}, State::Closed};
    }
    void runs()
    {
        QFETCH(Run, r);
        WindowFixture w;
        w.open("/m/a.vob", 12.6);
        w.form->state.StartSecond = 10;
        w.form->state.EndSecond = r.end;
        w.player.clearCalls();
        w.player.speed = 5;
        w.dialogs.openAnswers << "/m/b.vob";
        if (r.button)
            QTimer::singleShot(100, w.form.get(), [&] { w.click(w.form.get()->*r.button); });
        QTimer::singleShot(r.closeAfter, w.form.get(), [&] { w.form->close(); }); // else a loop that never ends would hang

        w.click(w.form->Command9);

        QCOMPARE(w.player.commands(), r.commands);
        QCOMPARE(w.player.state(), r.state);
        if (r.state == State::Closed)
            return;
        QCOMPARE(w.form->Command1->text(), "Play");
        QVERIFY(!w.form->T->isActive());
        const double at = w.player.currentPosition(), stop = std::min(r.end, 12.6);
        QVERIFY2(r.button || (at >= stop && at < stop + 3), qPrintable(QString::number(at)));
    }
};

QTEST_MAIN(TestPlaySelected)
#include "tst_playselected.moc"
