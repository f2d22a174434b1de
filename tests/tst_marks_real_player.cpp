// Open, tracking and marks on the real player with a generated DVD title.

#include "playback/media/QtMediaPlayer.h"
#include "support/ScriptedDialogs.h"

#include "app/ui/Form1.h"

#include <QFile>
#include <QTest>
#include <cmath>

using namespace morvane;
using namespace morvane::test;

class TestMarksRealPlayer : public QObject {
    Q_OBJECT
private slots:
    void openTrackAndMark();
    void refusedFile();
};

void TestMarksRealPlayer::openTrackAndMark()
{
    const QString vob = QStringLiteral(MORVANE_TEST_MEDIA "/dvd.vob");
    if (!QFile::exists(vob))
        QSKIP("no generated media; run scripts/make-test-media first");

    QtMediaPlayer player;
    ScriptedDialogs dialogs;
    ScriptedWebPanel web;
    Form1 f(player, dialogs, web);
    f.show();
    const auto round = [](double s) { return int(std::nearbyint(s)); };

    dialogs.openAnswers << vob;
    QTest::mouseClick(f.Command4, Qt::LeftButton);
    QCOMPARE(f.state.SourceFile, vob);
    QCOMPARE(f.Command1->text(), QStringLiteral("Pause"));
    QVERIFY(f.T->isActive());
    QCOMPARE(f.H->maximum(), 10); // a 10 s title
    QCOMPARE(f.Line1->X1(), 170.0f);
    QCOMPARE(f.Line2->X1(), 9400.0f);

    // The ticks carry the slider and the read-out along.
    QTRY_VERIFY_WITH_TIMEOUT(f.H->value() >= 2, 8000);
    QCOMPARE(f.Label4->text(), QStringLiteral(" 0 : 0 : %1").arg(f.H->value()));

    // Paused, the mark is the player's position rounded; the line follows
    // the slider (9230 / 10 twips a second).
    QTest::mouseClick(f.Command1, Qt::LeftButton);
    QCOMPARE(f.Command1->text(), QStringLiteral("Play"));
    const int paused = round(player.currentPosition());
    QTest::mouseClick(f.Command5, Qt::LeftButton);
    QCOMPARE(f.state.StartSecond, paused);
    QCOMPARE(f.Label7->text(), QStringLiteral(" 0 : 0 : %1").arg(paused));
    QCOMPARE(f.Line1->X1(), float(170 + f.H->value() * 923));

    // A click on the slider moves the real player there.
    f.H->setValue(7);
    f.H_Click();
    QCOMPARE(round(player.currentPosition()), 7);
    QTest::mouseClick(f.Command6, Qt::LeftButton);
    QCOMPARE(f.state.EndSecond, 7);
    QCOMPARE(f.Label9->text(), QStringLiteral(" 0 : 0 : 7"));
    QCOMPARE(f.Label3->text(), QStringLiteral(" 0 : 0 : %1").arg(7 - paused));
    QCOMPARE(f.Line2->X1(), float(330 + 7 * 923));

    // Resumed, it plays to the end, where the tick turns the button back.
    QTest::mouseClick(f.Command1, Qt::LeftButton);
    QCOMPARE(f.Command1->text(), QStringLiteral("Pause"));
    QTRY_COMPARE_WITH_TIMEOUT(f.Command1->text(), QStringLiteral("Play"), 10000);
    QCOMPARE(f.H->value(), 10);
    QVERIFY(!f.T->isActive());
    QCOMPARE(f.Label4->text(), QStringLiteral(" 0 : 0 : 10"));
}

void TestMarksRealPlayer::refusedFile()
{
    const QString bin = QStringLiteral(MORVANE_TEST_MEDIA "/random.bin");
    if (!QFile::exists(bin))
        QSKIP("no generated media; run scripts/make-test-media first");

    QtMediaPlayer player;
    ScriptedDialogs dialogs;
    ScriptedWebPanel web;
    Form1 f(player, dialogs, web);
    dialogs.openAnswers << bin;
    QTest::mouseClick(f.Command4, Qt::LeftButton);

    QCOMPARE(dialogs.messages.size(), 1);
    QVERIFY2(dialogs.messages[0].contains(bin), qPrintable(dialogs.messages[0]));
    QCOMPARE(f.state.SourceFile, QString());
    QCOMPARE(f.Command1->text(), QStringLiteral("Play"));
    QVERIFY(!f.T->isActive());
}

QTEST_MAIN(TestMarksRealPlayer)
#include "tst_marks_real_player.moc"
