// morvane-cut's own interface; its clips need only match the engine's.

#include "support/Cut.h"

#include <QtTest>
#include <csignal>

using namespace morvane;
using namespace morvane::test;

Q_DECLARE_METATYPE(CutRequest)

namespace {

// big.vob, 8 GiB of hole, is a cut to stop.
const char kSetup[] = R"(set -e; ln -s "$T/dvd.vob" dvd.vob && ln -s "$T/dvd.vob" $'s\xfe'
ln -s "$T"/split/VTS_01_[123].VOB . && ln -s "$T/discs/movie" movie && ln -s "$T/discs/episodes" episodes
ln -s "$T/discs/angles" angles && printf old > old.vob && mkdir d && truncate -s 8G big.vob)";

struct MediaFolder : Folder {
    QByteArrayList before;

    MediaFolder()
    {
        const Ran setUp = command(kSetup);
        if (setUp.exitCode != 0)
            qFatal("cannot set up the folder: %s", qPrintable(setUp.err));
        before = listing(path);
    }
    // $M is morvane-cut.
    Ran command(const QString &line) const { return run("bash", {"-c", line}, QFile::decodeName(path)); }
};

CutRequest request(const QByteArrayList &sources, const QByteArray &target, int start, int end, int duration)
{
    return {sources, target, duration, start, end, Replace::Allowed, CutMethod::ByteRate};
}

}

class CutTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cuts_data();
    // The engine's clip; tells what precise and chapter cuts cover; no leftovers.
    void cuts();
    // Its own refusals, and the engine's no other test meets.
    void refused_data();
    // One stderr line, the folder untouched.
    void refused();
    void lists();
    // Terminal only; silent on a pipe.
    void progressBar();
    void interrupted_data();
    // Stopped mid-copy: status 130, a line if it may, the folder untouched for any target.
    void interrupted();
};

void CutTest::initTestCase()
{
    qputenv("M", MORVANE_CUT_PATH);
    qputenv("T", MORVANE_TEST_MEDIA);
}

void CutTest::cuts_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<CutRequest>("same"); // the engine's request, target outside
    QTest::newRow("duration from the player")
        << "--start 2 --end 5 dvd.vob c.vob" << request({"dvd.vob"}, "c.vob", 2, 5, 10);
    QTest::newRow("= and leading zeros")
        << "--duration=0036 --start 05 --end=00000000033 VTS_01_1.VOB VTS_01_2.VOB VTS_01_3.VOB c.vob"
        << request({"VTS_01_1.VOB", "VTS_01_2.VOB", "VTS_01_3.VOB"}, "c.vob", 5, 33, 36);
    QTest::newRow("--force over a file") << "--force --duration 10 --start 2 --end 5 dvd.vob old.vob"
                                         << request({"dvd.vob"}, "old.vob", 2, 5, 10);
    QTest::newRow("a name that is not text")
        << "--duration 10 --start 2 --end 5 $'s\\xfe' $'c\\xfe.vob'" << request({"s\xfe"}, "c\xfe.vob", 2, 5, 10);
    QTest::newRow("precise, title") << "--title 1 --precise --start 4 --end 8 movie c.vob"
                                    << titleCut("movie", 1, CutMethod::Precise, false, 4, 8, "c.vob");
    QTest::newRow("chapter 2") << "--title=1 --chapters=2 movie c.vob"
                               << titleCut("movie", 1, CutMethod::ByteRate, true, 2, 2, "c.vob");
}

void CutTest::cuts()
{
    QFETCH(QString, args);
    QFETCH(CutRequest, same);
    MediaFolder folder;
    const Ran ran = folder.command("\"$M\" " + args);
    QCOMPARE(ran.exitCode, 0);
    Folder elsewhere;
    CutRequest engine = same;
    for (QByteArray &source : engine.sources)
        source = folder / source;
    engine.target = elsewhere / "engine.vob";
    const CutResult result = engineCut(engine);
    const bool says = same.method == CutMethod::Precise || same.firstChapter;
    QCOMPARE(ran.err, says ? QString::asprintf("morvane-cut: the clip covers %.2f s to %.2f s, %lld bytes.\n",
                                               result.startTime, result.endTime, (long long)result.length)
                           : QString());
    const QByteArray clip = contentOf(folder / same.target);
    QVERIFY2(!clip.isEmpty() && clip == contentOf(engine.target), qPrintable(QString::number(clip.size())));
    if (!folder.before.contains(same.target))
        QVERIFY(std::filesystem::remove((folder / same.target).constData()));
    QCOMPARE(listing(folder.path), folder.before);
}

void CutTest::refused_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("exitCode"); // 2: refused, 1: the cut failed
    QTest::addColumn<QString>("message");
    const QString inUse = "Cannot overwrite file in use: \"%1\" is the source file, or cannot be told apart from it.";
    const auto row = [](const QString &args, const QString &message, int exitCode = 2) {
        QTest::newRow(qPrintable(args)) << args << exitCode << message;
    };
    row("--start 3 --start=2", "\"--start\" is given twice.");
    row("--start 5 --end 5 dvd.vob n", "the start (5) must be less than the end (5).");
    row("--start -1", "--start cannot be negative.");
    row("--end 2147483648", "--end is too large.");
    row("--start 1.5", "--start wants whole seconds, not \"1.5\".");
    row("--fast", "unknown option \"--fast\".");
    row("--end", "--end needs a value.");
    row("--start 2 dvd.vob n", "--start and --end are required.");
    row("--start 2 --end 5 dvd.vob", "expected SOURCE and TARGET, got 1 path(s).");
    row("--start 2 --end 5 dvd.vob old.vob", "\"old.vob\" already exists; add --force to replace it.");
    row("--force --start 2 --end 5 dvd.vob ./dvd.vob", inUse.arg("./dvd.vob"));
    row("--title 1 --start 1 --end 2 movie movie/VIDEO_TS/VTS_01_2.VOB", inUse.arg("movie/VIDEO_TS/VTS_01_2.VOB"));
    row("--start 2 --end 5 $'s\\xfe' n",
        "cannot read the duration of \"s\\xFE\": the media player cannot open a name that is not text; give it "
        "with --duration.");
    row("--chapters 1", "--chapters needs --title.");
    row("--title 1 --chapters 1 --start 1", "give either --chapters or --start and --end, not both.");
    row("--chapters 3-2", "--chapters wants the first chapter before the last, not \"3-2\".");
    row("--title 0", "--title wants a number from 1, not 0.");
    row("--title 1 --start 1 --end 2 movie episodes n", "--title takes one SOURCE, the DVD folder or a file in it.");
    row("--list movie episodes", "--list takes one DVD folder or file in it, got 2 path(s).");
    row("--list d", "\"d\" is not a DVD folder: it is neither a VIDEO_TS folder, nor holds one, nor is a file in one.",
        1);
    row("--title 3 --start 1 --end 2 episodes n", "The DVD in \"episodes/VIDEO_TS\" has no title 3; it has 2.", 1);
    row("--title 1 --chapters 2-5 movie n", "Title 1 has 4 chapters; there is no chapter 5.", 1);
    row("--title 1 --precise --start 1 --end 3 angles n",
        "Title 1 has several camera angles here, interleaved on the disc; a cut would mix their pictures.", 1);
}

void CutTest::refused()
{
    QFETCH(QString, args);
    QFETCH(QString, message);
    MediaFolder folder;
    const Ran ran = folder.command("\"$M\" " + args);
    QTEST(ran.exitCode, "exitCode");
    QCOMPARE(ran.err, "morvane-cut: " + message + "\n");
    QCOMPARE(ran.out, QString());
    QCOMPARE(listing(folder.path), folder.before);
}

void CutTest::lists()
{
    MediaFolder folder;
    const Ran ran = folder.command("\"$M\" --list episodes/VIDEO_TS");
    QCOMPARE(ran.exitCode, 0);
    QCOMPARE(ran.out, "1  0:08.00  2 chapters  audio AC-3 1ch\n2  0:06.00  1 chapter  audio AC-3 1ch\n");
    const Ran help = folder.command("\"$M\" --start 1 -h");
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.startsWith("usage: morvane-cut ") && help.err.isEmpty());
}

void CutTest::progressBar()
{
    MediaFolder folder;
    const Ran ran = folder.command("script -qec '\"$M\" --duration 10 --start 1 --end 7 dvd.vob c.vob' /dev/null");
    QCOMPARE(ran.exitCode, 0);
    QVERIFY2(ran.out.startsWith("\r[") && ran.out.endsWith("\r[" + QString(40, '#') + "] 100%\r\n"),
             qPrintable(ran.out));
}

void CutTest::interrupted_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("target");
    QTest::newRow("Ctrl-C") << int(SIGINT) << "c.vob";
    QTest::newRow("hang-up, over a file") << int(SIGHUP) << "old.vob";
    QTest::newRow("killed, over a file") << int(SIGKILL) << "old.vob";
}

void CutTest::interrupted()
{
    QFETCH(int, signal);
    QFETCH(QString, target);
    MediaFolder folder;
    QProcess cut;
    cut.setWorkingDirectory(QFile::decodeName(folder.path));
    cut.start(MORVANE_CUT_PATH, {"--force", "--duration", "8", "--start", "0", "--end", "8", "big.vob", target});
    QVERIFY(cut.waitForStarted());
    QThread::msleep(300);
    if (cut.state() != QProcess::Running)
        QSKIP("the cut was over before it could be stopped");
    QVERIFY(::kill(cut.processId(), signal) == 0 && cut.waitForFinished(10000));
    if (signal == SIGKILL) {
        QCOMPARE(cut.exitStatus(), QProcess::CrashExit);
    } else {
        QCOMPARE(cut.exitCode(), 130);
        QCOMPARE(cut.readAllStandardError(), "morvane-cut: interrupted; no clip was written.\n");
    }
    QCOMPARE(listing(folder.path), folder.before);
    QCOMPARE(contentOf(folder / "old.vob"), "old");
}

QTEST_GUILESS_MAIN(CutTest)
#include "tst_cut.moc"
