#include "files/engine/ClipCutter.h"
#include "files/engine/FileName.h"
#include "files/engine/Writeback.h"
#include "support/Cut.h"

#include <QtTest>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;
using Names = QByteArrayList;
using I64 = std::int64_t;

struct Clip { // source size, duration D, marks; what the byte rule gives
    I64 size;
    int d, start, end;
    bool kernel;
    I64 offset = 0, length = 0, maximum = 0, final = 0; // the clip; the progress at the end
};
Q_DECLARE_METATYPE(Clip)

struct Progress : ProgressSink {
    I64 maximum = -1, last = -1, highest = -1;
    void setMaximum(I64 value) override { maximum = value; }
    void setValue(I64 value) override
    {
        last = value;
        highest = std::max(highest, value);
    }
};

// Writes what it is given in order at a fixed speed on a scripted clock, and tells so in slices (a throttle's: 100 ms).
struct ScriptedDisk : Writeback::Disk {
    double speed, slice, clock = 0, writtenUpTo = 0, given = 0, busyFrom = 0, told = 0; // bytes/s, s
    ScriptedDisk(double bytesPerSecond, double sliceSeconds) : speed(bytesPerSecond), slice(sliceSeconds) {}
    void advance(double s)
    {
        writtenUpTo = std::min(given, writtenUpTo + std::max(0.0, clock + s - std::max(clock, busyFrom)) * speed);
        if (std::floor((clock + s) / slice) > std::floor(clock / slice))
            told = writtenUpTo;
        clock += s;
    }
    void startWriting(I64, I64 length) override
    {
        if (writtenUpTo >= given)
            busyFrom = clock;
        given += length;
    }
    bool written(I64 offset, I64 length) override { return told >= offset + length; }
    void pause() override { advance(0.001); }
    Writeback::Clock::time_point now() const override
    {
        return Writeback::Clock::time_point(std::chrono::nanoseconds(I64(clock * 1e9)));
    }
};

class EngineTest : public QObject {
    Q_OBJECT
private slots:
    void cut_data()
    {
        QTest::addColumn<Clip>("clip");
        QTest::addColumn<QByteArray>("name"); // the target's, in the folder
        QTest::addColumn<QString>("setup");   // what is at the name before the cut, or happens while it runs
        QTest::addColumn<bool>("replace");    // Replace::Allowed
        QTest::addColumn<QString>("reason");  // none when the clip is written
        const auto row = [](const char *tag, Clip c, const char *setup, const QString &why = "", bool replace = true,
                            const QByteArray &name = "c.vob") {
            QTest::newRow(tag) << c << name << QString(setup) << replace << why;
        };
        // R = size / D; S = R x start, E = R x end; N = (E - S) / 4096 + 1 blocks of 4097 bytes, 4096 apart, from
        // 1-based byte S (0-based S - 1, or byte 0 for S = 0), none past the end; progress to (E - S) + 4097.
        row("from 0", {409'600, 100, 0, 1, true, 0, 8'193, 8'193, 8'192}, "old file");
        row("7 bytes over 3 s, 3 to 4: the last 2", {7, 3, 3, 4, false, 5, 2, 4'099, 4'096}, "old file");
        row("start a byte past the end", {7, 3, 4, 5, true}, "", "at or beyond the end");
        row("D = 0", {4'000, 0, 1, 7, true}, "", "The duration is 0 seconds, so the source has no byte rate.");
        row("R = 0", {4'000, 5'000, 1, 7, true}, "", "fewer bytes (4000) than its duration has seconds (5000)");
        row("marks out of order", {4'000, 5, 3, 3, true}, "", "The start mark must come before the end mark.");
        row("negative mark", {4'000, 5, -1, 3, true}, "", "The marks cannot be negative.");
        const auto target = [&](const char *setup, const QString &why = "", bool replace = true,
                                const QByteArray &name = "c.vob") { // 8 MiB over 8 s, 1 to 7
            row(setup, {8 << 20, 8, 1, 7, true, 1'048'575, 6'295'553, 6'295'553, 6'295'552}, setup, why, replace, name);
        };
        const QString inUse = "in use: Cannot overwrite file in use: \"c.vob\" is the source file";
        target("hard link to the source", inUse);
        target("twin of the source", inUse);
        target("near twin, the first byte differs");
        target("cancel", "cancelled: The cut was cancelled.");
        target("new, not UTF-8", "", false, "c\xff\xfe.vob");
        target("appears", "taken: \"c.vob\" appeared while the clip was being written; that file was kept.", false);
        target("old file", "taken: \"c.vob\" already exists.", false);
        target("directory", "The target \"c.vob\" is a directory; a clip can only replace a file.");
        target("FIFO", "The target \"c.vob\" is a named pipe (FIFO); a clip can only replace a file.");
        target("link to nothing", "The target \"c.vob\" is a symbolic link that leads nowhere; a clip can only "
                                  "replace a file.");
        target("source is a folder", "The source \"s.vob\" is not a regular file.");
        target("shrinks", "The source file got shorter while it was being read.");
    }

    // Writes exactly the clip at the name, naming it only once it is on disk, or fails and leaves the folder and
    // its files as they were.
    void cut()
    {
        QFETCH(Clip, clip);
        QFETCH(QByteArray, name);
        QFETCH(QString, setup);
        QFETCH(bool, replace);
        QFETCH(QString, reason);
        Folder dir;
        const QByteArray target = dir / name;
        const QByteArray source = dir / "s.vob";
        QByteArray all(clip.size, '\0'); // noise
        QRandomGenerator(clip.size).fillRange(reinterpret_cast<quint32 *>(all.data()), all.size() / 4);
        const QByteArray bytes = all.mid(clip.offset, clip.length);
        QVERIFY(writeFile(source, all));
        const std::map<QString, std::function<bool()>> make{
            {"old file", [&] { return writeFile(target, "old"); }},
            {"twin of the source", [&] { return writeFile(target, all); }},
            {"near twin, the first byte differs", [&] { return writeFile(target, "x" + all.mid(1)); }},
            {"hard link to the source", [&] { return !::link(source, target); }},
            {"directory", [&] { return !::mkdir(target, 0755); }},
            {"FIFO", [&] { return !::mkfifo(target, 0644); }},
            {"link to nothing", [&] { return !::symlink("nowhere", target); }},
            {"source is a folder", [&] { return !::unlink(source) && !::mkdir(source, 0755); }},
        };
        QVERIFY(!make.count(setup) || make.at(setup)());
        const timespec when[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}}; // the twins', to the ns
        if (setup.contains("twin"))
            QVERIFY(!::utimensat(AT_FDCWD, source, when, 0) && !::utimensat(AT_FDCWD, target, when, 0));
        const QByteArray kept = setup == "appears" ? "precious" : contentOf(target);
        Names names = listing(dir.path);
        if ((reason.isEmpty() || setup == "appears") && !names.contains(name)) {
            names << name;
            std::sort(names.begin(), names.end());
        }

        Progress progress;
        ClipCutter cutter(progress, [&] {
            if (setup == "cancel")
                cutter.cancel();
        });
        cutter.useKernelCopy = clip.kernel;
        cutter.beforeWrite = [&](I64 at) {
            if (at == 0 && setup == "appears")
                writeFile(target, "precious");
            if (at > 0 && setup == "shrinks")
                ::truncate(source, 4 << 20);
            if (setup == "cancel")
                QThread::msleep(4); // slow pieces: cancelled early
        };
        QStringList steps; // each commit step, and what the name shows then
        cutter.onCommitStep = [&](CommitStep step) { steps << QString::number(int(step)) + contentOf(target).left(3); };
        const Replace mayReplace = replace ? Replace::Allowed : Replace::Never;
        CutResult result;
        QString outcome = outcomeOf([&] {
            result = cutter.cut({{source}, target, clip.d, clip.start, clip.end, mayReplace});
        });
        outcome.replace(QFile::decodeName(dir.path) + "/", "");
        QVERIFY2(outcome.contains(reason) && outcome.isEmpty() == reason.isEmpty(), qPrintable(outcome));
        QCOMPARE(contentOf(target), reason.isEmpty() ? bytes : kept);
        QCOMPARE(listing(dir.path), names);
        QVERIFY2(setup != "cancel" || progress.last < progress.maximum / 2, qPrintable(QString::number(progress.last)));
        if (!reason.isEmpty())
            return;
        QCOMPARE(QList<I64>({result.offset, result.length, progress.maximum, progress.last, progress.highest}),
                 QList<I64>({clip.offset, clip.length, clip.maximum, clip.final, clip.final}));
        QCOMPARE(steps, QStringList({"0" + kept.left(3), "1" + bytes.left(3), "2" + bytes.left(3)}));
    }

    void systemCalls_data()
    {
        QTest::addColumn<bool>("kernel");  // copy_file_range first, else the buffer
        QTest::addColumn<QString>("call"); // the kind whose first 20 calls misbehave
        QTest::addColumn<int>("error");    // they fail with it, or with 0 move only `moves` bytes
        QTest::addColumn<int>("moves");
        QTest::addColumn<QString>("reason");
        const QString full = "Writing the clip failed: No space left on device.";
        QTest::newRow("kernel copy") << true << "" << 0 << 0 << "";
        QTest::newRow("buffered") << false << "" << 0 << 0 << "";
        QTest::newRow("read interrupted") << false << "pread" << EINTR << 0 << "";
        QTest::newRow("write interrupted") << false << "pwrite" << EINTR << 0 << "";
        QTest::newRow("writes a byte at a time") << false << "pwrite" << 0 << 1 << "";
        QTest::newRow("disk takes nothing") << false << "pwrite" << 0 << 0 << full;
        QTest::newRow("kernel copy interrupted") << true << "copy" << EINTR << 0 << "";
        QTest::newRow("kernel copy, 1000 bytes a time") << true << "copy" << 0 << 1000 << "";
        QTest::newRow("kernel copy unsupported") << true << "copy" << EXDEV << 0 << "";
        QTest::newRow("disk full") << true << "copy" << ENOSPC << 0 << full;
    }

    // The last second of a sparse source past 4 GiB, through calls that fail or move less: retried, finished,
    // moved to the buffer, or stopped with the disk's reason and nothing left.
    void systemCalls()
    {
        QFETCH(bool, kernel);
        QFETCH(QString, call);
        QFETCH(int, error);
        QFETCH(int, moves);
        QFETCH(QString, reason);
        Folder dir;
        const QByteArray source = dir / "s.vob";
        const QByteArray target = dir / "c.vob";
        const I64 size = (5LL << 30) + 4'321;
        const I64 from = 5'367'636'257; // R = size / 5000, 0-based S - 1 at 4999 s; the clip runs to the end
        QByteArray tail(size - from, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(tail.data()), tail.size() / 4);
        QVERIFY(writeFile(source, tail, size, from));
        int scripted = 0;
        const auto misbehaves = [&](const char *kind) { return call == kind && scripted++ < 20; };
        const auto fail = [&] {
            errno = error;
            return ssize_t(-1);
        };
        const CopyCalls real = CopyCalls::system();
        NullProgress progress;
        ClipCutter cutter(progress, {});
        cutter.useKernelCopy = kernel;
        cutter.copyCalls.copyFileRange = [&](int in, loff_t *inAt, int out, loff_t *outAt, size_t length) {
            if (!misbehaves("copy"))
                return real.copyFileRange(in, inAt, out, outAt, length);
            return error ? fail() : real.copyFileRange(in, inAt, out, outAt, size_t(moves));
        };
        cutter.copyCalls.pread = [&](int fd, void *buffer, size_t length, off_t at) {
            return misbehaves("pread") ? fail() : real.pread(fd, buffer, length, at);
        };
        cutter.copyCalls.pwrite = [&](int fd, const void *buffer, size_t length, off_t at) {
            if (!misbehaves("pwrite"))
                return real.pwrite(fd, buffer, length, at);
            return error ? fail() : real.pwrite(fd, buffer, size_t(moves), at);
        };
        const QString outcome = outcomeOf([&] { cutter.cut({{source}, target, 5'000, 4'999, 5'000}); });
        QVERIFY2(outcome.contains(reason) && outcome.isEmpty() == reason.isEmpty(), qPrintable(outcome));
        QVERIFY2(call.isEmpty() || scripted > 0, "the scripted calls never happened");
        QCOMPARE(contentOf(target), reason.isEmpty() ? tail : QByteArray("none"));
        const Names left = reason.isEmpty() ? Names{"c.vob", "s.vob"} : Names{"s.vob"};
        QCOMPARE(listing(dir.path), left);
    }

    // Once the speed is known, never more to flush than the disk writes in 300 ms; the disk kept busy. The copy runs at
    // 2 GB/s; the disk tells what it wrote every slice.
    void writeback()
    {
        for (auto [speed, slice] : {std::pair{4e6, 0.1}, {10e9, 0.0001}}) { // throttled; fast
            ScriptedDisk disk(speed, slice);
            Writeback writeback(disk);
            const double total = std::min(speed * 5, 1e9);
            const double ideal = total / std::min(speed, 2e9);
            double backlog = 0; // what a cancel or the final flush waits for, seconds
            for (double copied = 0; copied < total;) {
                const I64 piece = std::min<I64>(writeback.budget() / 2, 1 << 20); // as the engine does
                if (writeback.pending() + piece <= writeback.budget()) {
                    disk.advance(piece / 2e9);
                    writeback.start(piece);
                    copied += piece;
                } else {
                    writeback.waitSome();
                }
                if (disk.clock > 1) // the speed is learnt
                    backlog = std::max(backlog, (disk.given - disk.writtenUpTo) / speed);
            }
            const double took = disk.clock + (disk.given - disk.writtenUpTo) / speed;
            QVERIFY2(backlog <= 0.3, qPrintable(QString("%1 B/s: longest backlog %2 s").arg(speed).arg(backlog)));
            QVERIFY2(took <= 1.1 * ideal + 10 * slice,
                     qPrintable(QString("took %1 s, ideal %2 s").arg(took).arg(ideal)));
        }
    }

    void names_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain UTF-8") << QByteArray("Öl 日本.vob") << "\"Öl 日本.vob\"";
        QTest::newRow("not UTF-8") << QByteArray("c\xff\xc3.vob") << "\"c\\xFF\\xC3.vob\"";
        QTest::newRow("overlong, surrogate") << QByteArray("\xc0\xaf\xed\xa0\x80") << "\"\\xC0\\xAF\\xED\\xA0\\x80\"";
        QTest::newRow("controls, C1, direction")
            << QByteArray("a\nb\x7f\xc2\x85\xe2\x80\xae") << "\"a\\x0Ab\\x7F\\xC2\\x85\\xE2\\x80\\xAE\"";
        QTest::newRow("backslash, quote") << QByteArray("a\\\"b") << "\"a\\\\\"b\"";
    }

    void names() // as messages show them
    {
        QFETCH(QByteArray, name);
        QTEST(QString::fromStdString(quotedName(name)), "shown");
    }

    void readableFiles() // only a regular file is opened, so that a pipe cannot block the caller
    {
        Folder dir;
        QVERIFY(writeFile(dir / "file.vob", "x"));
        QVERIFY(!::mkfifo(dir / "pipe", 0644) && !::mkdir(dir / "folder", 0755));
        for (auto [name, reason] : {std::pair{"file.vob", ""},
                                    {"pipe", "It is not a regular file"},
                                    {"folder", "Is a directory"},
                                    {"none", "No such file or directory"}})
            QCOMPARE(outcomeOf([&] { requireReadableFile(dir / name); }), QString(reason));
    }

    void exactNames() // a name given as text stands for one file only when it is text through and through
    {
        for (auto [name, held] : {std::pair{QString("/tmp/Öl.vob"), true},
                                  {QString("/tmp/c\uFFFD.vob"), false},
                                  {QString("/tmp/c") + QChar(0xD800), false},
                                  {QString("/tmp/a") + QChar(0) + "b", false},
                                  {QString(), false}}) {
            const QString outcome = outcomeOf([&] { QCOMPARE(exactFileName(name), QFile::encodeName(name)); });
            QVERIFY2(held ? outcome.isEmpty() : outcome.contains("cannot stand for one file exactly"),
                     qPrintable(name));
        }
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
