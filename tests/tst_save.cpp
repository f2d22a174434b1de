// Save as a user drives it: what is said, the controls while it runs, the bytes on disk.
#include "support/Files.h"
#include "support/WindowFixture.h"

#include <QTemporaryDir>

using namespace morvane;
using namespace morvane::test;

namespace {

// target: none cancels; old: the answer about an older file there; the clip's offset and length in the 200000
// bytes of random.bin, 2000 a second; emptied: the source is emptied before Save.
struct SaveCase {
    int start, end;
    QString target, old, message;
    qint64 offset, length;
    bool emptied = false;
};

} // namespace

class TestSave : public QObject {
    Q_OBJECT
private slots:
    void save_data()
    {
        QTest::addColumn<SaveCase>("c");
        const QString clip = "clip.vob", saved = "Clip Saved";
        QTest::newRow("start equals end") << SaveCase{10, 10, clip, "", "Wrong Selection", 0, 0};
        QTest::newRow("cancelled") << SaveCase{10, 20, "none", "", "", 0, 0};
        QTest::newRow("the source through a link")
            << SaveCase{10, 20, "link.vob", "", "Cannot overwrite file in use...", 0, 0};
        QTest::newRow("No keeps the old file") << SaveCase{10, 20, clip, "No", "", 0, 0};
        QTest::newRow("Yes replaces it") << SaveCase{10, 20, clip, "Yes", saved, 19999, 5 * 4096 + 1};
        QTest::newRow("copy fails") << SaveCase{10, 20, clip, "Yes", "The clip was not saved.", 0, 0, true};
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
        QVERIFY(!c.emptied || QFile::resize(source, 0));
        w.form->Cdlg.FileName = "earlier.vob";
        Shown after = w.shown();
        if (c.target != "none")
            w.dialogs.saveAnswers << target;
        w.dialogs.yesNoAnswers << (c.old == "Yes");
        int during = -1; // editing controls enabled when the copy first lets events run
        QTimer::singleShot(0, w.form.get(), [&] { during = w.shown().enabled; });
        w.click(w.form->Command7);
        const bool asked = c.message != "Wrong Selection";
        const bool saved = c.message == "Clip Saved";
        QCOMPARE(w.dialogs.saveDialogs,
                 asked ? QStringList{"Save; VOB Files(*.vob)|*.vob|All Files (*.*)|*.*; 1; earlier.vob"}
                       : QStringList());
        QCOMPARE(w.dialogs.questions, c.old.isEmpty() ? QStringList() : QStringList{"File already exist.Overwrite?"});
        QCOMPARE(w.dialogs.messages.join('/').section('\n', 0, 0), c.message);
        QCOMPARE(w.dialogs.messages.value(0).contains('\n'), c.emptied); // and why
        QByteArray left = c.old.isEmpty() ? "(no file)" : "old";
        if (saved)
            left = bytes.mid(c.offset, c.length);
        if (c.target != "link.vob") // that is the source
            QCOMPARE(readFile(target), left);
        QCOMPARE(during, saved ? 0 : -1);
        if (asked) {
            after.title = "Morvane";
            after.caption = "Play";
            after.slider = 0;
        }
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
