// Whole DVD titles: which files make one, the Open question, and playing, marking and cutting across the parts.
#include "files/engine/DvdTitle.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/Cut.h"
#include "support/WindowFixture.h"

#include <QTemporaryDir>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

const QStringList splitParts{media("split/VTS_01_1.VOB"), media("split/VTS_01_2.VOB"), media("split/VTS_01_3.VOB")};

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
    void parts_data()
    {
        QTest::addColumn<QStringList>("files"); // in one folder, the first chosen; a name ending in / is a folder
        QTest::addColumn<QStringList>("parts"); // none when the file is opened alone
        const QStringList none;
        QTest::newRow("three") << QStringList{"VTS_01_2.VOB", "VTS_01_1.VOB", "VTS_01_3.VOB", "VTS_01_0.VOB"}
                               << QStringList{"VTS_01_1.VOB", "VTS_01_2.VOB", "VTS_01_3.VOB"};
        QTest::newRow("lower case") << QStringList{"vts_03_1.vob", "VTS_03_2.VOB"}
                                    << QStringList{"vts_03_1.vob", "VTS_03_2.VOB"};
        QTest::newRow("other title set") << QStringList{"VTS_02_1.VOB", "VTS_02_2.VOB", "VTS_01_3.VOB"}
                                         << QStringList{"VTS_02_1.VOB", "VTS_02_2.VOB"};
        QTest::newRow("gap") << QStringList{"VTS_01_3.VOB", "VTS_01_1.VOB"} << none;
        QTest::newRow("one part") << QStringList{"VTS_01_1.VOB", "VTS_01_0.VOB"} << none;
        QTest::newRow("two spellings") << QStringList{"VTS_01_1.VOB", "vts_01_1.vob", "VTS_01_2.VOB"} << none;
        QTest::newRow("a folder chosen") << QStringList{"VTS_01_1.VOB/", "VTS_01_2.VOB"} << none;
    }
    void parts() // which part was chosen, openAsks tells
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, parts);
        QTemporaryDir dir;
        for (const QString &name : files)
            QVERIFY(name.endsWith('/') ? QDir(dir.path()).mkdir(name) : writeFile(dir.filePath(name), "x"));
        const auto found = findDvdTitle(dir.filePath(files[0]));
        QStringList got;
        for (const QString &part : found ? found->parts : QStringList())
            got << QFileInfo(part).fileName();
        QCOMPARE(got, parts);
    }

    void openAsks_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QStringList>("played"); // numbers of the parts
        const QString question = "This file is part %1 of a DVD title of 3 files. Open the whole title?";
        QTest::newRow("yes") << "VTS_01_2.VOB" << true << question.arg(2) << QStringList{"1", "2", "3"};
        QTest::newRow("no") << "VTS_01_3.VOB" << false << question.arg(3) << QStringList{"3"};
        QTest::newRow("menu file") << "VTS_01_0.VOB" << true << "" << QStringList{"0"};
    }
    void openAsks() // and Stop, Play and the slider use what was opened
    {
        QFETCH(QString, chosen);
        QFETCH(bool, yes);
        QFETCH(QString, asked);
        QFETCH(QStringList, played);
        QTemporaryDir dir;
        for (const QString n : {"0", "1", "2", "3"})
            QVERIFY(writeFile(dir.filePath("VTS_01_" + n + ".VOB"), "x"));
        QStringList named;
        for (const QString &n : played)
            named << dir.filePath("VTS_01_" + n + ".VOB");
        WindowFixture w;
        w.player.durations[named.join(" + ")] = 36;
        w.dialogs.yesNoAnswers << yes;
        w.open(dir.filePath(chosen), 5);
        w.click(w.form->Command2);
        w.click(w.form->Command1);
        QCOMPARE(w.dialogs.questions.join(" / "), asked);
        const QString file = "FileName(" + named.join(" + ") + ")";
        QCOMPARE(w.player.commands, QStringList({file, "Play", "Seek(0)", "Pause", file, "Play"}));
        QCOMPARE(w.form->H->maximum(), named.size() > 1 ? 36 : 5);
    }

    // Saved from the second file, the clip is the joined stream's, across the boundary at 2 636 553.
    void saveAcrossParts_data()
    {
        QTest::addColumn<bool>("precise");
        QTest::addColumn<bool>("ontoPart"); // a hard link to the first part, which is in use
        QTest::newRow("byte rate") << false << false;
        QTest::newRow("precise") << true << false;
        QTest::newRow("onto a hard link to the first") << true << true;
    }
    void saveAcrossParts()
    {
        QFETCH(bool, precise);
        QFETCH(bool, ontoPart);
        TitleCopy title;
        const QString clip = title.dir.filePath("clip.vob");
        if (ontoPart)
            QVERIFY(::link(QFile::encodeName(title.files[0]), QFile::encodeName(clip)) == 0);
        const QByteArray before = readFile(clip);
        WindowFixture w;
        w.player.durations[title.files.join(" + ")] = 36;
        w.dialogs.yesNoAnswers << true << true; // open the whole title; replace
        w.open(title.files[1]);
        w.mark(10, 14);
        w.form->Check1->setChecked(precise);
        w.dialogs.saveAnswers << clip;
        w.click(w.form->Command7);
        QCOMPARE(w.dialogs.messages, QStringList{ontoPart ? "Cannot overwrite file in use..." : "Clip Saved"});
        QByteArray expected = before;
        if (!ontoPart && !precise) // R = 7 907 328 / 36 = 219 648; S = 10 R; 215 blocks
            expected = (readFile(splitParts[0]) + readFile(splitParts[1]) + readFile(splitParts[2]))
                           .mid(2'196'479, 215 * 4096 + 1);
        if (!ontoPart && precise) { // the precise cut of the unsplit title
            const QString whole = title.dir.filePath("whole.vob");
            NullProgress progress;
            ClipCutter(progress, {})
                .cut({{QFile::encodeName(media("vbr.vob"))},
                      QFile::encodeName(whole),
                      36,
                      10,
                      14,
                      Replace::Never,
                      CutMethod::Precise});
            expected = readFile(whole);
            QVERIFY(expected.size() > 500'000);
        }
        QCOMPARE(readFile(clip), expected);
    }

    // A part that changes under the cut fails it, and nothing is written.
    void partChangesDuringCut_data()
    {
        QTest::addColumn<bool>("grow"); // the third part, else the second moves away
        QTest::addColumn<QString>("said");
        QTest::newRow("third grows") << true << "VTS_01_3.VOB\" changed size while it was being read.";
        QTest::newRow("second moved away") << false << "VTS_01_2.VOB\" was moved or deleted while it was being read.";
    }
    void partChangesDuringCut()
    {
        QFETCH(bool, grow);
        QFETCH(QString, said);
        TitleCopy title;
        QByteArrayList sources;
        for (const QString &file : title.files)
            sources << QFile::encodeName(file);
        NullProgress progress;
        ClipCutter cutter(progress, {});
        cutter.beforeWrite = [&](std::int64_t written) {
            if (written == 0 && grow)
                writeFile(title.files[2], readFile(splitParts[2]) + "more");
            if (written == 0 && !grow)
                QFile::rename(title.files[1], title.files[1] + ".moved");
        };
        const QString error = outcomeOf([&] {
            cutter.cut({sources, QFile::encodeName(title.dir.filePath("clip.vob")), 36, 0, 30});
        });
        QVERIFY2(error.endsWith(said), qPrintable(error));
        QVERIFY(!QFile::exists(title.dir.filePath("clip.vob")));
    }

    // The real player plays the parts as one stream: its duration, a seek past a boundary, and playing over one.
    void realPlayer()
    {
        QtMediaPlayer single;
        QtMediaPlayer joined;
        single.setFileName(media("vbr.vob"));
        joined.setFileName(splitParts);
        QVERIFY2(qAbs(joined.duration() - single.duration()) < 0.1, qPrintable(QString::number(joined.duration())));
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
