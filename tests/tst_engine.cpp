#include "files/engine/ClipCutter.h"
#include "state/TimeText.h"

#include <QtTest>
#include <unistd.h>

using namespace morvane;

struct Clip { std::int64_t size; int d, start, end; bool kernelCopy; std::int64_t offset, length, progressMaximum, progressFinal; };
Q_DECLARE_METATYPE(Clip)

// N = (E - S) / 4096 + 1 blocks of 4097 bytes 4096 apart from 1-based byte S (or byte 0), none past the source's end.
static Clip model(std::int64_t size, int d, int start, int end, bool kernelCopy)
{
    const std::int64_t r = size / d, s = r * start, e = r * end, n = (e - s) / 4096 + 1, offset = s == 0 ? 0 : s - 1;
    return {size, d, start, end, kernelCopy, offset, std::min(4096 * n + 1, size - offset), e - s + 4097, 4096 * n};
}

struct Progress : ProgressSink { std::int64_t maximum = -1, last = -1, highest = -1;
    void setMaximum(std::int64_t value) override { maximum = value; }
    void setValue(std::int64_t value) override { last = value, highest = std::max(highest, value); }
};

static QByteArray readAll(const QString &path) { QFile file(path); return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(); }

static bool writeFile(const QString &path, const QByteArray &bytes, qint64 at = 0, qint64 size = -1) // the rest a hole
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size < 0 ? bytes.size() : size) && file.seek(at) && file.write(bytes) == bytes.size();
}

enum Fault { None, SourceIsFolder, NoTargetFolder, SymlinkToSource, HardLinkToSource, WriteFails, Cancel };

class EngineTest : public QObject {
    Q_OBJECT
private slots:
    void cut_data()
    {
        QTest::addColumn<Clip>("clip"); // source size, D, start, end, kernel copy; offset, length, progress maximum and final value
        QTest::addColumn<int>("fault"); QTest::addColumn<QString>("reason"); // reason: none when the clip is written
        QTest::newRow("10 MB over 100 s, 1 to 10") << Clip{10'000'000, 100, 1, 10, true, 99'999, 901'121, 904'097, 901'120} << 0 << "";
        QTest::newRow("E - S under 4096") << Clip{400'000, 100, 1, 2, true, 3'999, 4'097, 8'097, 4'096} << 0 << "";
        QTest::newRow("start 0, E - S = 4096, buffered") << Clip{409'600, 100, 0, 1, false, 0, 8'193, 8'193, 8'192} << 0 << "";
        QTest::newRow("end past the end, buffered") << Clip{10'000'000, 100, 90, 200, false, 8'999'999, 1'000'001, 11'004'097, 11'001'856} << 0 << "";
        QTest::newRow("sparse, beyond 4 GiB") << model((5LL << 30) + 4'321, 5'000, 4'999, 5'000, true) << 0 << "";
        QTest::newRow("sparse, beyond 4 GiB, buffered") << model((5LL << 30) + 4'321, 5'000, 4'999, 5'000, false) << 0 << "";
        QRandomGenerator random(20240611);
        for (int i = 0; i < 60; ++i) {
            const int size = random.bounded(1, 3'000'000), d = random.bounded(1, std::min(size, 400) + 1), start = random.bounded(d);
            QTest::addRow("random %d: %d bytes, D %d, start %d", i, size, d, start) << model(size, d, start, start + random.bounded(1, d + 1), i % 2) << 0 << "";
        }
        QTest::newRow("R = 0") << Clip{4'000, 5'000, 1, 7, true, 0, 0, 0, 0} << 0 << "no byte rate";
        QTest::newRow("source is a folder") << model(8 << 20, 8, 1, 7, true) << int(SourceIsFolder) << "not a regular file";
        QTest::newRow("missing target folder") << model(8 << 20, 8, 1, 7, true) << int(NoTargetFolder) << "No such file";
        QTest::newRow("symlink to the source") << model(8 << 20, 8, 1, 7, true) << int(SymlinkToSource) << "source file itself";
        QTest::newRow("hard link to the source") << model(8 << 20, 8, 1, 7, true) << int(HardLinkToSource) << "source file itself";
        QTest::newRow("write fails part way") << model(8 << 20, 8, 1, 7, true) << int(WriteFails) << "disk on fire";
        QTest::newRow("cancel part way") << model(8 << 20, 8, 1, 7, true) << int(Cancel) << "cancelled: The cut was cancelled.";
    }

    void cut() // writes exactly the clip, or fails with the reason and leaves the folder and its files as they were
    {
        QFETCH(Clip, clip); QFETCH(int, fault); QFETCH(QString, reason);
        QTemporaryDir dir;
        const std::int64_t from = std::max<std::int64_t>(0, clip.offset - 4'096); // noise near the clip, a hole elsewhere
        QByteArray near(std::min(clip.size, clip.offset + clip.length + 4'096) - from, Qt::Uninitialized);
        std::generate(near.begin(), near.end(), [random = QRandomGenerator(clip.size)]() mutable { return char(random.generate()); });
        CutRequest request{dir.filePath("source.vob"), dir.filePath("clip.vob"), clip.d, clip.start, clip.end};
        QVERIFY(writeFile(request.source, near, from, clip.size) && writeFile(request.target, QByteArray(clip.length + 4'097, 'x')));
        QVERIFY(QFile::link(request.source, dir.filePath("symlink")) && ::link(qPrintable(request.source), qPrintable(dir.filePath("hardlink"))) == 0);
        Progress progress;
        ClipCutter cutter(progress, [&] { if (fault == Cancel) cutter.cancel(); });
        cutter.useKernelCopy = clip.kernelCopy;
        switch (fault) {
        case SourceIsFolder: request.source = dir.path(); break;
        case NoTargetFolder: request.target = dir.filePath("nowhere/clip.vob"); break;
        case SymlinkToSource: request.target = dir.filePath("symlink"); break;
        case HardLinkToSource: request.target = dir.filePath("hardlink"); break;
        case WriteFails: cutter.beforeWrite = [](std::int64_t at) { if (at > 0) throw std::runtime_error("disk on fire"); }; break;
        case Cancel: cutter.beforeWrite = [](std::int64_t) { QThread::msleep(4); }; // slow pieces: cancelled early
        }
        const QByteArray targetBefore = readAll(request.target);
        QString outcome;
        try { cutter.cut(request); } catch (const CutError &e) { outcome = (dynamic_cast<const CutCancelled *>(&e) ? "cancelled: " : "") + QString(e.what()); }
        QVERIFY2(outcome.contains(reason) && outcome.isEmpty() == reason.isEmpty(), qPrintable(outcome));
        QCOMPARE(readAll(request.target), reason.isEmpty() ? near.mid(clip.offset - from, clip.length) : targetBefore);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList({"clip.vob", "hardlink", "source.vob", "symlink"}));
        QVERIFY(!reason.isEmpty() || (progress.maximum == clip.progressMaximum && progress.last == clip.progressFinal && progress.highest == progress.last));
        QVERIFY(fault != Cancel || progress.last < progress.maximum / 2); // a cancel stops it early
    }

    void readOut_data()
    {
        QTest::addColumn<double>("seconds"); // from the player, rounded to whole seconds with ties to even
        QTest::addColumn<QString>("text"); // as " h : m : s"; "overflow": RoundSeconds throws std::overflow_error
        for (const auto &[seconds, text] : std::vector<std::pair<double, QString>>{{0, " 0 : 0 : 0"}, {59, " 0 : 0 : 59"}, {60, " 0 : 1 : 0"},
                 {3725, " 1 : 2 : 5"}, {35999, " 9 : 59 : 59"}, {36000, " 10 : 0 : 0"}, {INT32_MAX, " 596523 : 14 : 7"}, {-5, " 0 : 0 :-5"},
                 {2.5, " 0 : 0 : 2"}, {3.5, " 0 : 0 : 4"}, {99.5, " 0 : 1 : 40"}, {qQNaN(), "overflow"}, {3e9, "overflow"}})
            QTest::addRow("%.1f", seconds) << seconds << text;
    }

    void readOut()
    {
        QFETCH(double, seconds);
        QString text = "overflow";
        try { text = FormatHms(RoundSeconds(seconds)); } catch (const std::overflow_error &) {}
        QTEST(text, "text");
    }

    void morvaneCut_data()
    {
        QTest::addColumn<QString>("command"); // run beside dvd.vob (9.97 s) and old.vob
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // on stderr; none: the last file named holds seconds 2 to 5 at D = 10
        QTest::newRow("--force over old") << "--force --duration=10 --start=2 --end=5 dvd.vob old.vob" << 0 << "";
        QTest::newRow("duration from the player") << "--start 2 --end 5 dvd.vob new.vob" << 0 << "";
        QTest::newRow("old without --force") << "--duration 10 --start 2 --end 5 dvd.vob old.vob" << 2 << "add --force";
        QTest::newRow("start = end") << "--duration 10 --start 5 --end 5 dvd.vob new.vob" << 2 << "less than the end";
        QTest::newRow("negative") << "--duration 10 --start -1 --end 5 dvd.vob new.vob" << 2 << "cannot be negative";
        QTest::newRow("no target") << "--duration 10 --start 2 --end 5 dvd.vob" << 2 << "expected SOURCE and TARGET";
        QTest::newRow("D = 0") << "--duration 0 --start 2 --end 5 dvd.vob new.vob" << 1 << "duration is 0";
    }

    void morvaneCut()
    {
        QFETCH(QString, command); QFETCH(QString, message);
        QTemporaryDir dir;
        const QByteArray dvd = readAll(MORVANE_TEST_MEDIA "/dvd.vob"), old = "an earlier clip";
        QVERIFY(writeFile(dir.filePath("dvd.vob"), dvd) && writeFile(dir.filePath("old.vob"), old));
        QProcess cut;
        cut.setWorkingDirectory(dir.path());
        cut.start(MORVANE_CUT_PATH, command.split(' '));
        QVERIFY(cut.waitForFinished(60'000) && cut.exitStatus() == QProcess::NormalExit);
        QTEST(cut.exitCode(), "exitCode");
        const QString stdErr = cut.readAllStandardError();
        QVERIFY2(stdErr.contains(message) && stdErr.isEmpty() == message.isEmpty(), qPrintable(stdErr));
        const Clip clip = model(dvd.size(), 10, 2, 5, true);
        QCOMPARE(readAll(dir.filePath("new.vob")), message.isEmpty() && command.endsWith("new.vob") ? dvd.mid(clip.offset, clip.length) : QByteArray());
        QCOMPARE(readAll(dir.filePath("old.vob")), message.isEmpty() && command.endsWith("old.vob") ? dvd.mid(clip.offset, clip.length) : old);
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
