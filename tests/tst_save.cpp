// Save through the window: questions, messages, controls, bytes. One engine failure will do; its tests hold the
// reasons.
#include "support/Files.h"
#include "support/WindowFixture.h"

#include <QTemporaryDir>

using namespace morvane;
using namespace morvane::test;

namespace {

// old: the answer on a file at the target; event, at the copy's first events: a file "appears" there or the window
// is "closed".
struct SaveCase {
    QString target, old, event, message;
};
const QString sourceName = "it's \"Ärger\".vob"; // of 100 s

}

class TestSave : public QObject {
    Q_OBJECT
private slots:
    void save_data();
    void save();
};

void TestSave::save_data()
{
    QTest::addColumn<SaveCase>("c");
    const QString clip = "a 'clip' „Öl“ 日本.vob", no = "The clip was not saved.\n";
    QTest::newRow("the source") << SaveCase{sourceName, "", "", "Cannot overwrite file in use..."};
    QTest::newRow("No keeps the old file") << SaveCase{clip, "No", "", ""};
    QTest::newRow("Yes replaces it") << SaveCase{clip, "Yes", "", "Clip Saved"};
    QTest::newRow("a name that may stand for bytes that are not text") << SaveCase{"c\uFFFD.vob", "", "", no};
    QTest::newRow("a file appears at the new name") << SaveCase{clip, "", "appears", no};
    QTest::newRow("closed during the copy") << SaveCase{clip, "Yes", "closed", ""};
}

void TestSave::save()
{
    QFETCH(SaveCase, c);
    QTemporaryDir dir;
    const QString source = dir.filePath(sourceName);
    const QString target = dir.filePath(c.target);
    QVERIFY(QFile::copy(media("random.bin"), source));
    const QByteArray bytes = readFile(source);
    WindowFixture w;
    w.open(source);
    QVERIFY(c.old.isEmpty() || writeFile(target, "old"));
    w.mark(10, 20);
    w.form->Cdlg.FileName = "earlier.vob";
    Shown after = w.shown();
    w.dialogs.saveAnswers << target;
    w.dialogs.yesNoAnswers << (c.old == "Yes");
    int during = -1; // enabled controls at the copy's first events
    QTimer::singleShot(0, w.form.get(), [&] {
        during = w.shown().enabled;
        if (c.event == "appears")
            QVERIFY(writeFile(target, "precious"));
        if (c.event == "closed")
            w.form->close();
    });
    w.click(w.form->Command7);
    const bool saved = c.message == "Clip Saved";
    QCOMPARE(w.dialogs.saveDialogs, QStringList{"Save; VOB Files(*.vob)|*.vob|All Files (*.*)|*.*; 1; earlier.vob"});
    QCOMPARE(w.dialogs.questions, c.old.isEmpty() ? QStringList() : QStringList{"File already exist.Overwrite?"});
    const QString said = w.dialogs.messages.join('/');
    QCOMPARE(said.section('\n', 0, 0, QString::SectionIncludeTrailingSep), c.message); // the reason follows
    QByteArray left = c.old.isEmpty() ? "(no file)" : "old";
    if (saved)
        left = bytes.mid(19999, 5 * 4096 + 1); // 2000 bytes a second
    if (c.event == "appears")
        left = "precious";
    if (target != source)
        QCOMPARE(readFile(target), left);
    QCOMPARE(readFile(source), bytes);
    QCOMPARE(during, saved || !c.event.isEmpty() ? 0 : -1);
    after.title = "Morvane";
    after.caption = "Play";
    after.slider = 0;
    if (c.event == "closed")
        after.file = "";
    after.said = w.dialogs.messages;
    QCOMPARE(w.shown(), after);
    QCOMPARE(w.form->pb->value(), 0);
    QCOMPARE(w.form->Cdlg.FileName, saved ? target : ""); // kept only for a saved clip
}

QTEST_MAIN(TestSave)
#include "tst_save.moc"
