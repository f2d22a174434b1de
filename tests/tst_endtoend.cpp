// One clip from a real DVD VOB to a file that plays: the window on the real
// player, opened, marked through the slider, saved, and the clip opened again.

#include "support/ScriptedDialogs.h"

#include "app/ui/Form1.h"
#include "playback/media/QtMediaPlayer.h"
#include "state/TimeText.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace morvane;
using namespace morvane::test;

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void cutAndPlay_data();
    void cutAndPlay();
};

void TestEndToEnd::cutAndPlay_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::newRow("inside the title") << 2 << 7;
    QTest::newRow("from the first byte") << 0 << 3;
    QTest::newRow("to the end of the title") << 6 << 10;
}

void TestEndToEnd::cutAndPlay()
{
    QFETCH(int, start);
    QFETCH(int, end);
    const QString source = QStringLiteral(MORVANE_TEST_MEDIA "/dvd.vob");
    QVERIFY2(QFile::exists(source), "made by scripts/make-test-media (the make_test_media test)");
    QFile sourceFile(source);
    QVERIFY(sourceFile.open(QIODevice::ReadOnly));
    const QByteArray bytes = sourceFile.readAll();

    QTemporaryDir dir;
    QtMediaPlayer player;
    ScriptedDialogs dialogs;
    ScriptedWebPanel web;
    Form1 form(player, dialogs, web);
    form.show();

    dialogs.openAnswers << source;
    QTest::mouseClick(form.Command4, Qt::LeftButton);
    QCOMPARE(form.state.SourceFile, source);
    QTest::mouseClick(form.Command1, Qt::LeftButton); // pause, so that the marks stand still
    const std::int32_t d = RoundSeconds(player.duration());
    QCOMPARE(form.H->maximum(), d);
    QCOMPARE(d, 10);

    // Marked as a user does: click the slider at a second, then mark.
    for (auto [second, button] : {std::pair{start, form.Command5}, std::pair{end, form.Command6}}) {
        form.H->setValue(second);
        form.H_Click();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(form.state.StartSecond, start);
    QCOMPARE(form.state.EndSecond, end);

    const QString clip = dir.filePath(QStringLiteral("clip.vob"));
    dialogs.saveAnswers << clip;
    QTest::mouseClick(form.Command7, Qt::LeftButton);
    QCOMPARE(dialogs.messages, QStringList{"Clip Saved"});

    // Byte rate over the whole seconds; blocks of 4096 plus one byte from
    // offset S - 1 (from 0 when S is 0), cut short at the source's end.
    const qint64 rate = bytes.size() / d;
    const qint64 s = rate * start, e = rate * end;
    const qint64 offset = s == 0 ? 0 : s - 1;
    const qint64 length = std::min<qint64>(4096 * ((e - s) / 4096 + 1) + 1, bytes.size() - offset);
    QFile clipFile(clip);
    QVERIFY(clipFile.open(QIODevice::ReadOnly));
    const QByteArray cut = clipFile.readAll();
    QCOMPARE(cut.size(), length);
    QVERIFY(cut == bytes.mid(offset, length));

    // The clip opens and plays in the window, about as long as the range.
    dialogs.openAnswers << clip;
    QTest::mouseClick(form.Command4, Qt::LeftButton);
    QVERIFY2(form.state.SourceFile == clip, qPrintable(dialogs.messages.join(QLatin1Char('|'))));
    QCOMPARE(form.Command1->text(), QStringLiteral("Pause"));
    const double seconds = player.duration();
    QVERIFY2(std::abs(seconds - (end - start)) <= 1.5,
             qPrintable(QStringLiteral("clip plays %1 s for a range of %2 s").arg(seconds).arg(end - start)));
    QTRY_VERIFY_WITH_TIMEOUT(player.currentPosition() > 0.2, 10000);
    form.close();
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
