// Save as a user drives it: what is said, the controls while it runs, the bytes on disk.
#include "playback/media/QtMediaPlayer.h"
#include "support/Files.h"
#include "support/WindowFixture.h"

#include <QDesktopServices>
#include <QTemporaryDir>

using namespace morvane;
using namespace morvane::test;

namespace {

// A copy of a test media file opened as source.vob: a .vob on the real player, the rest on the scripted one at
// 100 s. Save's dialog answers clip.vob.
struct SaveWindow : WindowFixture {
    QTemporaryDir dir;
    QString source = dir.filePath("source.vob");
    QString clip = dir.filePath("clip.vob");
    QByteArray bytes;
    int during = -1; // editing controls enabled when the copy first lets events run

    explicit SaveWindow(const QString &name)
        : WindowFixture(name.endsWith(".vob") ? std::make_unique<QtMediaPlayer>() : nullptr)
    {
        QFile::copy(media(name), source);
        bytes = readFile(source);
        dialogs.openAnswers << source;
        click(form->Command4);
    }
    void save()
    {
        QTimer::singleShot(0, form.get(), [this] { during = shown().enabled; });
        click(form->Command7);
    }
};

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
    int browsed = 0;
public slots:
    void openInBrowser(const QUrl &) { ++browsed; } // stands in for the system's browser
private slots:
    void save_data()
    {
        QTest::addColumn<SaveCase>("c");
        const QString clip = "clip.vob", saved = "Clip Saved";
        QTest::newRow("start equals end") << SaveCase{10, 10, clip, "", "Wrong Selection", 0, 0};
        QTest::newRow("from the first byte") << SaveCase{0, 5, clip, "", saved, 0, 3 * 4096 + 1};
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
        SaveWindow w("random.bin");
        const QString target = w.dir.filePath(c.target);
        QVERIFY(QFile::link(w.source, w.dir.filePath("link.vob")));
        QVERIFY(c.old.isEmpty() || writeFile(target, "old"));
        w.mark(c.start, c.end);
        QVERIFY(!c.emptied || QFile::resize(w.source, 0));
        w.form->Cdlg.FileName = "earlier.vob";
        Shown after = w.shown();
        if (c.target != "none")
            w.dialogs.saveAnswers << target;
        w.dialogs.yesNoAnswers << (c.old == "Yes");
        w.save();
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
            left = w.bytes.mid(c.offset, c.length);
        if (c.target != "link.vob") // that is the source
            QCOMPARE(readFile(target), left);
        QCOMPARE(w.during, saved ? 0 : -1);
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
    // With the real player and the check box ticked, the clip is one range of the source from a NAV pack (pack
    // header, system header, PCI) to the next one or the end; unticked, the bytes at 219648 a second of 36 s.
    void preciseCut()
    {
        for (const bool precise : {false, true}) {
            SaveWindow w("vbr.vob");
            w.mark(13, 20);
            if (precise)
                w.click(w.form->Check1);
            QCOMPARE(w.form->Check1->isChecked(), precise); // unticked at start
            w.dialogs.saveAnswers << w.clip;
            w.save();
            QCOMPARE(w.dialogs.messages, QStringList{"Clip Saved"});
            QCOMPARE(w.during, 0);
            const QByteArray clip = readFile(w.clip);
            const qint64 at = w.bytes.indexOf(clip);
            const auto nav = [&](qint64 i) {
                return w.bytes.mid(i, 4) + w.bytes.mid(i + 0x0E, 4) + w.bytes.mid(i + 0x26, 4)
                           + w.bytes.mid(i + 0x2C, 1)
                       == QByteArray("\0\0\1\xBA\0\0\1\xBB\0\0\1\xBF\0", 13);
            };
            if (!precise)
                QCOMPARE(QPair(at, clip.size()), QPair(qint64(2855423), qint64(4096 * 376 + 1)));
            else
                QVERIFY2(at % 2048 == 0 && nav(at) && (at + clip.size() == w.bytes.size() || nav(at + clip.size())),
                         qPrintable(QString("%1 bytes at %2").arg(clip.size()).arg(at)));
        }
    }
    void progressPastTwoGiB() // the bar's int range must not wrap or stick for large clips
    {
        ClipProgressBar bar;
        bar.setByteMaximum((5LL << 30) + 4097);
        bar.setByteValue(5LL << 29);
        QCOMPARE(bar.value(), 49); // in percent, just short of half
    }
    // While bytes move Website opens the browser, and closing abandons the clip without a word.
    void duringCopy()
    {
        QDesktopServices::setUrlHandler("https", this, "openInBrowser");
        SaveWindow w("random.bin");
        w.mark(0, 100);
        QTimer::singleShot(0, w.form.get(), [&] {
            QCOMPARE(w.form->windowTitle(), "Saving");
            w.click(w.form->Command3);
            w.form->close();
        });
        w.dialogs.saveAnswers << w.clip;
        w.click(w.form->Command7);
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(browsed, 1);
        QVERIFY(w.form->isUnloaded());
        QVERIFY(!QFile::exists(w.clip));
        QCOMPARE(w.dialogs.messages, QStringList());
    }
};

QTEST_MAIN(TestSave)
#include "tst_save.moc"
