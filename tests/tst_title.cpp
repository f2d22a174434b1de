// Whole DVD titles: finding the parts, opening, playing and cutting across them.
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
const QString question = "This file is part %1 of a DVD title of 3 files. Open the whole title?";

// For tests that damage the parts.
struct TitleCopy {
    QTemporaryDir dir;
    QStringList files;
    QByteArrayList names;
    TitleCopy()
    {
        for (const QString &part : splitParts) {
            files << dir.filePath(QFileInfo(part).fileName());
            names << QFile::encodeName(files.last());
            QFile::copy(part, files.last());
        }
    }
};

}

class TestTitle : public QObject {
    Q_OBJECT
private slots:
    void parts_data();
    void parts(); // which files make a title
    // No opens the part, Yes the title, as Stop and Play do again; clips across a boundary equal cuts of vbr.vob,
    // the title unsplit; a link to a part in use is refused.
    void saveAcrossParts();
    // A part that grows or moves away fails the cut; nothing is written.
    void partChangesDuringCut();
    // The parts as one stream: duration, a seek past a boundary, playing over one.
    void realPlayer();
};

void TestTitle::parts_data()
{
    QTest::addColumn<QString>("files"); // first one chosen; ending in /: a folder
    QTest::addColumn<QString>("parts"); // none: opened alone
    const char *rows[][3] = {
        {"three", "VTS_01_2.VOB VTS_01_1.VOB VTS_01_3.VOB VTS_01_0.VOB", "VTS_01_1.VOB VTS_01_2.VOB VTS_01_3.VOB"},
        {"lower case", "vts_03_1.vob VTS_03_2.VOB", "vts_03_1.vob VTS_03_2.VOB"},
        {"other title set", "VTS_02_1.VOB VTS_02_2.VOB VTS_01_3.VOB", "VTS_02_1.VOB VTS_02_2.VOB"},
        {"gap", "VTS_01_3.VOB VTS_01_1.VOB", ""},
        {"one part", "VTS_01_1.VOB VTS_01_0.VOB", ""},
        {"two spellings", "VTS_01_1.VOB vts_01_1.vob VTS_01_2.VOB", ""},
        {"a folder named as a part", "VTS_01_2.VOB VTS_01_1.VOB/", ""}};
    for (auto [tag, files, parts] : rows)
        QTest::newRow(tag) << QString(files) << QString(parts);
}

void TestTitle::parts()
{
    QFETCH(QString, files);
    QFETCH(QString, parts);
    QTemporaryDir dir;
    const QStringList names = files.split(' ');
    for (const QString &name : names)
        QVERIFY(name.endsWith('/') ? QDir(dir.path()).mkdir(name) : writeFile(dir.filePath(name), "x"));
    const auto found = findDvdTitle(dir.filePath(names[0]));
    QCOMPARE(found ? found->parts.join(' ').remove(dir.path() + '/') : QString(), parts);
}

void TestTitle::saveAcrossParts()
{
    TitleCopy title;
    WindowFixture w;
    w.dialogs.yesNoAnswers << false << true;
    w.open(title.files[2], 5);
    QCOMPARE(w.player.commands, QStringList({"FileName(" + title.files[2] + ")", "Play"}));
    QCOMPARE(w.form->H->maximum(), 5);
    const QString joined = title.files.join(" + ");
    w.player.durations[joined] = 36;
    w.open(title.files[1]);
    w.click(w.form->Command2);
    w.click(w.form->Command1);
    QCOMPARE(w.dialogs.questions, QStringList({question.arg(3), question.arg(2)}));
    const QString file = "FileName(" + joined + ")";
    QCOMPARE(w.player.commands.mid(5), QStringList({file, "Play", "Seek(0)", "Pause", file, "Play"}));
    QCOMPARE(w.form->H->maximum(), 36);
    w.mark(10, 14);
    const QByteArray vbr = QFile::encodeName(media("vbr.vob"));
    for (const CutMethod how : {CutMethod::ByteRate, CutMethod::Precise}) {
        const QString clip = title.dir.filePath(QString::number(int(how)));
        w.form->Check1->setChecked(how == CutMethod::Precise);
        w.dialogs.saveAnswers << clip;
        w.click(w.form->Command7);
        const QByteArray whole = QFile::encodeName(clip + " unsplit");
        engineCut({{vbr}, whole, 36, 10, 14, Replace::Never, how});
        QVERIFY(readFile(clip).size() > 500'000);
        QCOMPARE(readFile(clip), readFile(whole));
    }
    const QString link = title.dir.filePath("link.vob");
    QVERIFY(::link(title.names[0], QFile::encodeName(link)) == 0);
    w.dialogs.saveAnswers << link;
    w.click(w.form->Command7);
    QCOMPARE(w.dialogs.messages, QStringList({"Clip Saved", "Clip Saved", "Cannot overwrite file in use..."}));
    QCOMPARE(readFile(link), readFile(splitParts[0]));
}

void TestTitle::partChangesDuringCut()
{
    for (const bool grow : {true, false}) {
        TitleCopy title;
        NullProgress progress;
        ClipCutter cutter(progress, {});
        cutter.beforeWrite = [&](std::int64_t written) {
            if (written == 0 && grow)
                writeFile(title.files[2], readFile(splitParts[2]) + "more");
            if (written == 0 && !grow)
                QFile::rename(title.files[1], title.files[1] + ".moved");
        };
        const QString error = outcomeOf([&] {
            cutter.cut({title.names, QFile::encodeName(title.dir.filePath("clip.vob")), 36, 0, 30});
        });
        QVERIFY2(error.endsWith(grow ? "VTS_01_3.VOB\" changed size while it was being read."
                                     : "VTS_01_2.VOB\" was moved or deleted while it was being read."),
                 qPrintable(error));
        QVERIFY(!QFile::exists(title.dir.filePath("clip.vob")));
    }
}

void TestTitle::realPlayer()
{
    QtMediaPlayer joined;
    joined.setFileName(splitParts);
    QCOMPARE_LT(qAbs(joined.duration() - readDuration(media("vbr.vob"))), 0.1);
    joined.play();
    joined.seek(30); // in the third file
    QTRY_VERIFY2(qAbs(joined.currentPosition() - 30) < 0.5, qPrintable(QString::number(joined.currentPosition())));
    joined.seek(11.5); // the first ends about 12 s in
    QTest::qWait(1500);
    const double at = joined.currentPosition();
    QCOMPARE_GT(at, 12.3);
    QCOMPARE_LT(at, 14.5);
}

QTEST_MAIN(TestTitle)
#include "tst_title.moc"
