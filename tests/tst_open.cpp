// Open: stop, ask, reset, load, play, and lay out the slider and the marks.

#include "support/WindowFixture.h"

using namespace morvane;
using namespace morvane::test;

namespace {
const QString VobFilter = QStringLiteral("VOB Files (*.vob)|*.vob|All Files (*.*)|*.*");
const QString Reset = QStringLiteral("0 : 0 : 0");

// Marks a range on the open file: start at 10 s, end at 40 s.
void markRange(WindowFixture &w)
{
    w.player.speed = 0;
    w.player.setPosition(10);
    w.click(w.form->Command5);
    w.player.setPosition(40);
    w.click(w.form->Command6);
    QCOMPARE(w.form->Label3->text(), QStringLiteral(" 0 : 0 : 30"));
}
} // namespace

class TestOpen : public QObject {
    Q_OBJECT
private slots:
    void firstFile_data();
    void firstFile();
    void secondFileWhilePlayingWithMarks();
    void cancel_data();
    void cancel();
    void refusedFile_data();
    void refusedFile();
    void fileWithoutLength();
};

void TestOpen::firstFile_data()
{
    QTest::addColumn<double>("duration");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("markScale");
    QTest::newRow("100 s") << 100.0 << 100 << 92;
    QTest::newRow("1000 s") << 1000.0 << 1000 << 9;
    QTest::newRow("999.5 s rounds up to even") << 999.5 << 1000 << 9;
    QTest::newRow("998.5 s rounds down to even") << 998.5 << 998 << 9;
    QTest::newRow("9230 s") << 9230.0 << 9230 << 1;
    QTest::newRow("9231 s") << 9231.0 << 9231 << 0;
}

void TestOpen::firstFile()
{
    QFETCH(double, duration);
    QFETCH(int, maximum);
    QFETCH(int, markScale);
    WindowFixture w;
    Form1 &f = *w.form;

    w.open(QStringLiteral("/media/a.vob"), duration);

    QCOMPARE(w.dialogs.openRequests.size(), 1);
    QCOMPARE(w.dialogs.openRequests[0].filter, VobFilter);
    QCOMPARE(w.dialogs.openRequests[0].fileName, QString());
    // Nothing was open, so there is nothing to stop or close first.
    QCOMPARE(w.player.commands(), QStringList({"FileName(/media/a.vob)", "Play"}));
    QCOMPARE(w.player.state(), ScriptedPlayer::State::Playing);
    QCOMPARE(f.state.SourceFile, QStringLiteral("/media/a.vob"));
    QCOMPARE(f.state.IsPlaying, True);
    QCOMPARE(f.Command1->text(), QStringLiteral("Pause"));
    QVERIFY(f.T->isActive());
    QCOMPARE(f.T->interval(), 1000);
    QCOMPARE(f.H->minimum(), 0);
    QCOMPARE(f.H->maximum(), maximum);
    QCOMPARE(f.H->value(), 0);
    QCOMPARE(f.state.MarkScale, markScale);
    QCOMPARE(f.Line1->X1(), 170.0f);
    QCOMPARE(f.Line1->X2(), 170.0f);
    QCOMPARE(f.Line2->X1(), 9400.0f);
    QCOMPARE(f.Line2->X2(), 9400.0f);
    QCOMPARE(f.Label7->text(), Reset);
    QCOMPARE(f.Label9->text(), Reset);
    QCOMPARE(f.Label3->text(), Reset);
    QCOMPARE(f.Label4->text(), QString()); // the position read-out is left alone
    QCOMPARE(f.Cdlg.FileName, QString());   // the next dialog starts empty
}

void TestOpen::secondFileWhilePlayingWithMarks()
{
    WindowFixture w;
    Form1 &f = *w.form;
    w.open(QStringLiteral("/media/a.vob"), 100);
    markRange(w);
    w.player.setPosition(42);
    f.T_Timer();
    QCOMPARE(f.Label4->text(), QStringLiteral(" 0 : 0 : 42"));
    w.player.clearCalls();

    w.open(QStringLiteral("/media/b.vob"), 2000);

    QCOMPARE(w.dialogs.openRequests.size(), 2);
    QCOMPARE(w.dialogs.openRequests[1].filter, VobFilter);
    QCOMPARE(w.dialogs.openRequests[1].fileName, QString());
    QCOMPARE(w.player.commands(),
             QStringList({"Seek(0)", "Pause", "Close", "FileName(/media/b.vob)", "Play"}));
    QCOMPARE(w.player.fileName(), QStringLiteral("/media/b.vob"));
    QCOMPARE(f.state.SourceFile, QStringLiteral("/media/b.vob"));
    QCOMPARE(f.state.StartSecond, 0);
    QCOMPARE(f.state.EndSecond, 0);
    QCOMPARE(f.Label7->text(), Reset);
    QCOMPARE(f.Label9->text(), Reset);
    QCOMPARE(f.Label3->text(), Reset);
    QCOMPARE(f.Label4->text(), QStringLiteral(" 0 : 0 : 42"));
    QCOMPARE(f.Command1->text(), QStringLiteral("Pause"));
    QVERIFY(f.T->isActive());
    QCOMPARE(f.H->maximum(), 2000);
    QCOMPARE(f.H->value(), 0);
    QCOMPARE(f.state.MarkScale, 4);
    QCOMPARE(f.Line1->X1(), 170.0f);
    QCOMPARE(f.Line2->X2(), 9400.0f);
}

void TestOpen::cancel_data()
{
    QTest::addColumn<bool>("paused");
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("while playing") << false << QStringList({"Seek(0)", "Pause"});
    // Pause on a paused player would resume it.
    QTest::newRow("while paused") << true << QStringList({"Seek(0)"});
}

void TestOpen::cancel()
{
    QFETCH(bool, paused);
    QFETCH(QStringList, commands);
    WindowFixture w;
    Form1 &f = *w.form;
    w.open(QStringLiteral("/media/a.vob"), 100);
    markRange(w);
    w.player.setPosition(30);
    f.T_Timer();
    if (paused)
        w.click(f.Command1);
    w.player.clearCalls();

    w.click(f.Command4); // no answer queued: the dialog is cancelled

    QCOMPARE(w.dialogs.openRequests.size(), 2);
    QCOMPARE(w.player.commands(), commands);
    QCOMPARE(w.player.state(), ScriptedPlayer::State::Paused);
    QCOMPARE(w.player.currentPosition(), 0.0);
    QCOMPARE(w.player.fileName(), QStringLiteral("/media/a.vob"));
    QCOMPARE(f.state.SourceFile, QStringLiteral("/media/a.vob"));
    QCOMPARE(f.state.IsPlaying, False);
    QCOMPARE(f.Command1->text(), QStringLiteral("Play"));
    QVERIFY(!f.T->isActive());
    QCOMPARE(f.H->value(), 0);
    QCOMPARE(f.H->maximum(), 100);
    QCOMPARE(f.state.StartSecond, 10);
    QCOMPARE(f.state.EndSecond, 40);
    QCOMPARE(f.Label7->text(), QStringLiteral(" 0 : 0 : 10"));
    QCOMPARE(f.Label9->text(), QStringLiteral(" 0 : 0 : 40"));
    QCOMPARE(f.Label3->text(), QStringLiteral(" 0 : 0 : 30"));
    QVERIFY(w.dialogs.messages.isEmpty());

    // Still loaded: Play starts it again from the beginning.
    w.player.clearCalls();
    w.click(f.Command1);
    QCOMPARE(w.player.commands(), QStringList({"FileName(/media/a.vob)", "Play"}));
    QCOMPARE(f.Command1->text(), QStringLiteral("Pause"));
}

void TestOpen::refusedFile_data()
{
    QTest::addColumn<bool>("firstOpen");
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("as the first file") << false << QStringList({"FileName(/media/bad.vob)"});
    QTest::newRow("in place of a playing file")
        << true << QStringList({"Seek(0)", "Pause", "Close", "FileName(/media/bad.vob)"});
}

void TestOpen::refusedFile()
{
    QFETCH(bool, firstOpen);
    QFETCH(QStringList, commands);
    WindowFixture w;
    Form1 &f = *w.form;
    if (firstOpen) {
        w.open(QStringLiteral("/media/a.vob"), 100);
        markRange(w);
    }
    w.player.clearCalls();
    w.player.refused << QStringLiteral("/media/bad.vob");

    w.open(QStringLiteral("/media/bad.vob"));

    QCOMPARE(w.player.commands(), commands);
    QCOMPARE(w.dialogs.messages.size(), 1);
    const QString message = w.dialogs.messages[0];
    QVERIFY2(message.contains(QStringLiteral("/media/bad.vob")), qPrintable(message));
    QVERIFY2(message.contains(QRegularExpression(QStringLiteral("cannot (be )?play"),
                                                 QRegularExpression::CaseInsensitiveOption)),
             qPrintable(message));
    QCOMPARE(f.state.SourceFile, QString());
    QCOMPARE(f.state.IsPlaying, False);
    QCOMPARE(f.state.StartSecond, 0);
    QCOMPARE(f.state.EndSecond, 0);
    QCOMPARE(f.Label7->text(), Reset);
    QCOMPARE(f.Label9->text(), Reset);
    QCOMPARE(f.Label3->text(), Reset);
    QCOMPARE(f.H->value(), 0);
    QCOMPARE(f.Command1->text(), QStringLiteral("Play"));
    QVERIFY(!f.T->isActive());

    // No file is open: Play and the marks do nothing.
    w.player.clearCalls();
    const float line1 = f.Line1->X1();
    w.click(f.Command1);
    w.click(f.Command5);
    QVERIFY(w.player.calls.isEmpty());
    QCOMPARE(f.Command1->text(), QStringLiteral("Play"));
    QCOMPARE(f.Line1->X1(), line1);
}

void TestOpen::fileWithoutLength()
{
    // A duration that rounds to 0 ends Open at the scale; the file stays
    // open and playing, and the lines stay where they were.
    WindowFixture w;
    Form1 &f = *w.form;
    w.open(QStringLiteral("/media/short.vob"), 0.4);

    QCOMPARE(f.state.SourceFile, QStringLiteral("/media/short.vob"));
    QCOMPARE(f.Command1->text(), QStringLiteral("Pause"));
    QVERIFY(f.T->isActive());
    QCOMPARE(f.H->maximum(), 0);
    QCOMPARE(f.state.MarkScale, 0);
    QCOMPARE(f.Line1->X1(), 240.0f);
    QCOMPARE(f.Line2->X1(), 9375.0f);
    QVERIFY(w.dialogs.messages.isEmpty());
}

QTEST_MAIN(TestOpen)
#include "tst_open.moc"
