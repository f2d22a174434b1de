// Save as a user drives it: what is asked and said, the controls while it runs, the bytes on disk. The window's
// own refusals are here; an engine's failure needs one row, as the engine's tests hold its reasons.
#include "support/Files.h"
#include "support/WindowFixture.h"

#include <QTemporaryDir>

using namespace morvane;
using namespace morvane::test;

namespace {

// target: none cancels; old: the answer about an older file there; event: once the copy lets events run, a file
// "appears" at the target or the window is "closed"; the clip's offset and length in the 200000 bytes of
// random.bin, 2000 a second.
struct SaveCase {
    int start, end;
    QString target, old, event, message;
    qint64 offset = 0, length = 0;
};

} // namespace

class TestSave : public QObject {
    Q_OBJECT
private slots:
    void save_data()
    {
        QTest::addColumn<SaveCase>("c");
        const QString clip = "clip.vob", no = "The clip was not saved.\n";
        QTest::newRow("start equals end") << SaveCase{10, 10, clip, "", "", "Wrong Selection"};
        QTest::newRow("cancelled") << SaveCase{10, 20, "none", "", "", ""};
        QTest::newRow("the source through a link")
            << SaveCase{10, 20, "link.vob", "", "", "Cannot overwrite file in use..."};
        QTest::newRow("No keeps the old file") << SaveCase{10, 20, clip, "No", "", ""};
        QTest::newRow("Yes replaces it") << SaveCase{10, 20, clip, "Yes", "", "Clip Saved", 19999, 5 * 4096 + 1};
        QTest::newRow("a name that may stand for bytes that are not text")
            << SaveCase{10, 20, "c\uFFFD.vob", "", "", no};
        QTest::newRow("a file appears at the new name") << SaveCase{10, 20, clip, "", "appears", no};
        QTest::newRow("closed during the copy") << SaveCase{10, 20, clip, "Yes", "closed", ""};
    }
    void save()
    {
        QFETCH(SaveCase, c);
        QTemporaryDir dir;
        const QString source = dir.filePath("source.vob"); // of 100 s
        const QString target = dir.filePath(c.target);
        QVERIFY(QFile::copy(media("random.bin"), source));
        QVERIFY(QFile::link(source, dir.filePath("link.vob")));
        const QByteArray bytes = readFile(source);
        WindowFixture w;
        w.open(source);
        QVERIFY(c.old.isEmpty() || writeFile(target, "old"));
        w.mark(c.start, c.end);
        w.form->Cdlg.FileName = "earlier.vob";
        Shown after = w.shown();
        if (c.target != "none")
            w.dialogs.saveAnswers << target;
        w.dialogs.yesNoAnswers << (c.old == "Yes");
        int during = -1; // editing controls enabled when the copy first lets events run
        QTimer::singleShot(0, w.form.get(), [&] {
            during = w.shown().enabled;
            if (c.event == "appears")
                QVERIFY(writeFile(target, "precious"));
            if (c.event == "closed")
                w.form->close();
        });
        w.click(w.form->Command7);
        const bool asked = c.message != "Wrong Selection";
        const bool saved = c.message == "Clip Saved";
        QCOMPARE(w.dialogs.saveDialogs,
                 asked ? QStringList{"Save; VOB Files(*.vob)|*.vob|All Files (*.*)|*.*; 1; earlier.vob"}
                       : QStringList());
        QCOMPARE(w.dialogs.questions, c.old.isEmpty() ? QStringList() : QStringList{"File already exist.Overwrite?"});
        const QString said = w.dialogs.messages.join('/');
        QCOMPARE(said.section('\n', 0, 0, QString::SectionIncludeTrailingSep), c.message); // why follows a \n
        QByteArray left = c.old.isEmpty() ? "(no file)" : "old";
        if (saved)
            left = bytes.mid(c.offset, c.length);
        if (c.event == "appears")
            left = "precious";
        if (c.target != "link.vob") // that is the source
            QCOMPARE(readFile(target), left);
        QCOMPARE(readFile(source), bytes);
        QCOMPARE(during, saved || !c.event.isEmpty() ? 0 : -1);
        if (asked) {
            after.title = "Morvane";
            after.caption = "Play";
            after.slider = 0;
        }
        if (c.event == "closed")
            after.file = ""; // the player went with the window
        after.said = w.dialogs.messages;
        QCOMPARE(w.shown(), after);
        QCOMPARE(w.form->pb->value(), 0);
        QString kept = asked ? "" : "earlier.vob"; // the dialog keeps the name only of a saved clip
        if (saved)
            kept = target;
        QCOMPARE(w.form->Cdlg.FileName, kept);
    }
};

QTEST_MAIN(TestSave)
#include "tst_save.moc"
