// Whole DVD titles: which files make one, the Open question, and playing, marking and cutting across the parts.
#include "files/engine/ClipCutter.h"
#include "files/engine/DvdTitle.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/Files.h"
#include "support/WindowFixture.h"

#include <QTemporaryDir>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

const QString media = QStringLiteral(MORVANE_TEST_MEDIA);
const QStringList splitParts{media + "/split/VTS_01_1.VOB", media + "/split/VTS_01_2.VOB",
                             media + "/split/VTS_01_3.VOB"};

struct NullProgress : ProgressSink {
    void setMaximum(std::int64_t) override {}
    void setValue(std::int64_t) override {}
};

// Copies of the split parts, which a test may damage.
struct TitleCopy {
    QTemporaryDir dir;
    QStringList files;
    TitleCopy()
    {
        for (const QString &part : splitParts) {
            files << dir.filePath(QFileInfo(part).fileName());
            QFile::copy(part, files.last());
        }
    }
};

} // namespace

class TestTitle : public QObject {
    Q_OBJECT
private slots:
    void parts_data() // files in a folder, the first chosen; "m of parts", or "" for the file alone
    {
        QTest::addColumn<QString>("files");
        QTest::addColumn<QString>("title");
        QTest::newRow("second of three") << "VTS_01_2.VOB VTS_01_1.VOB VTS_01_3.VOB VTS_01_0.VOB"
                                         << "2 of VTS_01_1.VOB VTS_01_2.VOB VTS_01_3.VOB";
        QTest::newRow("lower case, mixed") << "vts_03_1.vob VTS_03_2.VOB"
                                           << "1 of vts_03_1.vob VTS_03_2.VOB";
        QTest::newRow("other title set ignored") << "VTS_02_1.VOB VTS_02_2.VOB VTS_01_3.VOB"
                                                 << "1 of VTS_02_1.VOB VTS_02_2.VOB";
        QTest::newRow("gap") << "VTS_01_3.VOB VTS_01_1.VOB"
                             << "";
        QTest::newRow("first missing") << "VTS_01_2.VOB VTS_01_3.VOB"
                                       << "";
        QTest::newRow("one part only") << "VTS_01_1.VOB VTS_01_0.VOB"
                                       << "";
        QTest::newRow("menu file chosen") << "VTS_01_0.VOB VTS_01_1.VOB VTS_01_2.VOB"
                                          << "";
        QTest::newRow("not a part name") << "VTS_01_1.VOB.bak VTS_01_1.VOB VTS_01_2.VOB"
                                         << "";
        QTest::newRow("one part, two spellings") << "VTS_01_1.VOB vts_01_1.vob VTS_01_2.VOB"
                                                 << "";
        QTest::newRow("first is a folder") << "VTS_01_2.VOB VTS_01_1.VOB/"
                                           << "";
        QTest::newRow("a folder chosen") << "VTS_01_1.VOB/ VTS_01_2.VOB"
                                         << "";
    }
    void parts()
    {
        QFETCH(QString, files);
        QFETCH(QString, title);
        QTemporaryDir dir;
        const QStringList names = files.split(' ');
        for (const QString &name : names)
            QVERIFY(name.endsWith('/') ? QDir(dir.path()).mkdir(name) : writeFile(dir.filePath(name), "x"));
        const auto found = findDvdTitle(dir.filePath(names[0]));
        QString got = found ? QString::number(found->chosenPart) + " of" : "";
        for (const QString &part : found ? found->parts : QStringList())
            got += ' ' + QFileInfo(part).fileName();
        QCOMPARE(got, title);
    }

    void openAsks_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("played");
        const QString question = "This file is part %1 of a DVD title of 3 files. Open the whole title?";
        QTest::newRow("yes") << "VTS_01_2.VOB" << true << question.arg(2) << "1 + 2 + 3";
        QTest::newRow("no") << "VTS_01_3.VOB" << false << question.arg(3) << "3";
        QTest::newRow("menu file") << "VTS_01_0.VOB" << true << ""
                                   << "0";
    }
    void openAsks() // and the marks, the slider and the Play after Stop use what was opened
    {
        QFETCH(QString, chosen);
        QFETCH(bool, yes);
        QFETCH(QString, asked);
        QFETCH(QString, played);
        QTemporaryDir dir;
        QStringList named;
        for (const QString n : {"0", "1", "2", "3"})
            QVERIFY(writeFile(dir.filePath("VTS_01_" + n + ".VOB"), "x"));
        for (const QString &n : played.split(" + "))
            named << dir.filePath("VTS_01_" + n + ".VOB");
        WindowFixture w;
        w.player.durations[named.join(" + ")] = 36;
        w.dialogs.yesNoAnswers << yes;
        w.open(dir.filePath(chosen), 5);
        w.click(w.form->Command2);
        w.click(w.form->Command1);
        QCOMPARE(w.dialogs.questions.join(" / "), asked);
        const QString expected =
            QStringLiteral("FileName(%1) Play Seek(0) Pause FileName(%1) Play").arg(named.join(" + "));
        QCOMPARE(w.player.commands.join(' '), expected);
        QCOMPARE(w.form->H->maximum(), named.size() > 1 ? 36 : 5);
    }

    // Saved from the title's second file, the clip is the joined stream's bytes, across the boundary at 2 636 553.
    void saveAcrossParts_data()
    {
        QTest::addColumn<bool>("precise");
        QTest::addColumn<QString>("target"); // "" for a new file
        QTest::addColumn<QString>("said");
        QTest::newRow("byte rate") << false << ""
                                   << "Clip Saved";
        QTest::newRow("precise") << true << ""
                                 << "Clip Saved";
        QTest::newRow("onto the third file") << false << "VTS_01_3.VOB"
                                             << "Cannot overwrite file in use...";
        QTest::newRow("onto a hard link to the first") << true << "link.vob"
                                                       << "Cannot overwrite file in use...";
    }
    void saveAcrossParts()
    {
        QFETCH(bool, precise);
        QFETCH(QString, target);
        QFETCH(QString, said);
        TitleCopy title;
        QVERIFY(::link(QFile::encodeName(title.files[0]), QFile::encodeName(title.dir.filePath("link.vob"))) == 0);
        const QString clip = title.dir.filePath(target.isEmpty() ? "clip.vob" : target);
        const QByteArray before = readFile(clip);
        WindowFixture w;
        w.player.durations[title.files.join(" + ")] = 36;
        w.dialogs.yesNoAnswers << true << true; // open the whole title; replace
        w.open(title.files[1]);
        w.mark(10, 14);
        w.form->Check1->setChecked(precise);
        w.dialogs.saveAnswers << clip;
        w.click(w.form->Command7);
        QCOMPARE(w.dialogs.messages.join(" / "), said);
        const QByteArray joined = readFile(splitParts[0]) + readFile(splitParts[1]) + readFile(splitParts[2]);
        if (!target.isEmpty()) {
            QVERIFY2(readFile(clip) == before, qPrintable(target + " changed"));
            return;
        }
        if (!precise) { // R = 7 907 328 / 36 = 219 648; S = 10 R; 215 blocks
            QVERIFY2(readFile(clip) == joined.mid(2'196'479, 215 * 4096 + 1),
                     qPrintable(QString::number(readFile(clip).size())));
            return;
        }
        // The precise cut of the joined stream must be the one of the unsplit title.
        NullProgress progress;
        ClipCutter cutter(progress, {});
        const QByteArray whole = QFile::encodeName(title.dir.filePath("whole.vob"));
        cutter.cut({{QFile::encodeName(media + "/vbr.vob")}, whole, 36, 10, 14, Replace::Never, CutMethod::Precise});
        const QByteArray got = readFile(clip), expected = readFile(whole);
        QVERIFY2(got == expected && got.size() > 500'000, qPrintable(QString::number(got.size())));
    }

    // A part that changes under the cut fails it, and nothing is written.
    void partChangesDuringCut_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("said");
        QTest::newRow("second truncated") << "truncate"
                                          << "got shorter";
        QTest::newRow("third grows") << "grow"
                                     << "VTS_01_3.VOB\" changed size";
        QTest::newRow("second moved away") << "move"
                                           << "VTS_01_2.VOB\" was moved or deleted";
    }
    void partChangesDuringCut()
    {
        QFETCH(QString, change);
        QFETCH(QString, said);
        TitleCopy title;
        QByteArrayList sources;
        for (const QString &file : title.files)
            sources << QFile::encodeName(file);
        NullProgress progress;
        ClipCutter cutter(progress, {});
        cutter.beforeWrite = [&](std::int64_t written) {
            if (written > 0)
                return;
            if (change == "truncate")
                QFile::resize(title.files[1], 1000);
            if (change == "grow")
                writeFile(title.files[2], readFile(splitParts[2]) + "more");
            if (change == "move")
                QFile::rename(title.files[1], title.files[1] + ".moved");
        };
        QString error;
        try {
            cutter.cut({sources, QFile::encodeName(title.dir.filePath("clip.vob")), 36, 0, 30});
        } catch (const CutError &e) {
            error = QString::fromUtf8(e.what());
        }
        QVERIFY2(error.contains(said), qPrintable(error));
        QVERIFY(!QFile::exists(title.dir.filePath("clip.vob")));
    }

    // The real player plays the parts as one stream: its duration, a seek past a boundary, and playing over one.
    void realPlayer()
    {
        QtMediaPlayer single, joined;
        single.setFileName(media + "/vbr.vob");
        joined.setFileName(splitParts);
        QVERIFY2(qAbs(joined.duration() - single.duration()) < 0.1,
                 qPrintable(QString("%1 against %2").arg(joined.duration()).arg(single.duration())));
        joined.play();
        joined.seek(30); // in the third file
        QTRY_VERIFY2(qAbs(joined.currentPosition() - 30) < 0.5, qPrintable(QString::number(joined.currentPosition())));
        joined.seek(11.5); // the first file ends about 12 s in
        QTest::qWait(1500);
        const double at = joined.currentPosition();
        QVERIFY2(at > 12.3 && at < 14.5, qPrintable(QString::number(at)));
    }
};

QTEST_MAIN(TestTitle)
#include "tst_title.moc"
