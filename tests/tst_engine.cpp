#include "files/engine/ClipCutter.h"
#include "files/engine/FileName.h"
#include "files/engine/Writeback.h"
#include "state/TimeText.h"

#include <QtTest>
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace morvane;
using Names = QByteArrayList;

struct Clip {
    std::int64_t size; int d, start, end; bool kernelCopy;
    std::int64_t offset, length, progressMaximum, progressFinal;
};
Q_DECLARE_METATYPE(Clip)

// N = (E - S) / 4096 + 1 blocks of 4097 bytes 4096 apart from 1-based byte S (or byte 0), none past the end.
static Clip model(std::int64_t size, int d, int start, int end, bool kernelCopy)
{
    const std::int64_t r = size / d, s = r * start, e = r * end, n = (e - s) / 4096 + 1, at = s == 0 ? 0 : s - 1;
    return {size, d, start, end, kernelCopy, at, std::min(4096 * n + 1, size - at), e - s + 4097, 4096 * n};
}

struct Progress : ProgressSink {
    std::int64_t maximum = -1, last = -1, highest = -1;
    void setMaximum(std::int64_t value) override { maximum = value; }
    void setValue(std::int64_t value) override { last = value, highest = std::max(highest, value); }
};

static QByteArray readRaw(const QByteArray &path) // "none" when it cannot be opened
{
    QByteArray all;
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK);
    for (char buffer[65536]; fd >= 0;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        all.append(buffer, got);
    }
    return fd < 0 ? QByteArray("none") : (::close(fd), all);
}

// bytes at `at` in a file of `size` bytes (by default just the bytes), a hole elsewhere
static bool writeFile(const QByteArray &path, const QByteArray &bytes, qint64 at = 0, qint64 size = -1)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool done = fd >= 0 && ::ftruncate(fd, size < 0 ? bytes.size() : size) == 0
                      && ::pwrite(fd, bytes.constData(), bytes.size(), at) == bytes.size();
    return fd >= 0 && ::close(fd) == 0 && done;
}

static Names listing(const QByteArray &dir) // every name as bytes, hidden ones too
{
    Names names;
    if (DIR *d = ::opendir(dir)) {
        while (const dirent *entry = ::readdir(d))
            if (qstrcmp(entry->d_name, ".") && qstrcmp(entry->d_name, ".."))
                names << entry->d_name;
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A temporary folder; QTemporaryDir cannot remove names that are not text.
struct Folder {
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.path());
    QByteArray operator/(const QByteArray &name) const { return path + "/" + name; }
    ~Folder() { for (const QByteArray &name : listing(path)) ::unlink(*this / name), ::rmdir(*this / name); }
};

static QByteArray noise(qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// The error's class as a prefix, then its text; empty when the cut worked.
static QString outcomeOf(const std::function<void()> &cut)
{
    try {
        cut();
    } catch (const CutError &e) {
        const char *kind = dynamic_cast<const CutCancelled *>(&e) ? "cancelled: "
                           : dynamic_cast<const TargetInUse *>(&e) ? "in use: "
                           : dynamic_cast<const TargetTaken *>(&e) ? "taken: " : "";
        return kind + QString::fromUtf8(e.what());
    }
    return "";
}

// Writes what it is given in order at a fixed speed on a scripted clock, and tells so in slices (a throttle's: 100 ms).
struct ScriptedDisk : Writeback::Disk {
    double speed, slice; // bytes per second; seconds
    double clock = 0, writtenUpTo = 0, given = 0, busyFrom = 0, told = 0;
    ScriptedDisk(double bytesPerSecond, double sliceSeconds) : speed(bytesPerSecond), slice(sliceSeconds) {}
    void advance(double seconds)
    {
        writtenUpTo = std::min(given, writtenUpTo + std::max(0.0, clock + seconds - std::max(clock, busyFrom)) * speed);
        if (std::floor((clock + seconds) / slice) > std::floor(clock / slice))
            told = writtenUpTo;
        clock += seconds;
    }
    void startWriting(std::int64_t, std::int64_t length) override
    {
        if (writtenUpTo >= given)
            busyFrom = clock;
        given += length;
    }
    bool written(std::int64_t offset, std::int64_t length) override { return told >= offset + length; }
    void pause() override { advance(0.001); }
    Writeback::Clock::time_point now() const override
    {
        return Writeback::Clock::time_point(std::chrono::nanoseconds(std::int64_t(clock * 1e9)));
    }
};

enum Fault { None, SourceIsFolder, NoTargetFolder, SymlinkToSource, HardLinkToSource, WriteFails, Cancel };

class EngineTest : public QObject {
    Q_OBJECT
private slots:
    void cut_data()
    {
        QTest::addColumn<Clip>("clip"); // size, D, start, end, kernel copy; offset, length, progress maximum, final
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("reason"); // none when the clip is written
        const Clip big = model(8 << 20, 8, 1, 7, true);
        QTest::newRow("10 MB over 100 s, 1 to 10")
            << Clip{10'000'000, 100, 1, 10, true, 99'999, 901'121, 904'097, 901'120} << 0 << "";
        QTest::newRow("E - S under 4096") << Clip{400'000, 100, 1, 2, true, 3'999, 4'097, 8'097, 4'096} << 0 << "";
        QTest::newRow("start 0, E - S = 4096, buffered") << Clip{409'600, 100, 0, 1, false, 0, 8'193, 8'193, 8'192}
                                                         << 0 << "";
        QTest::newRow("end past the end, buffered")
            << Clip{10'000'000, 100, 90, 200, false, 8'999'999, 1'000'001, 11'004'097, 11'001'856} << 0 << "";
        QTest::newRow("start at the last second: 2 bytes") << Clip{7, 3, 3, 4, true, 5, 2, 4'099, 4'096} << 0 << "";
        QTest::newRow("start a byte past the end") << Clip{7, 3, 4, 5, true, 0, 0, 0, 0} << 0 << "at or beyond the end";
        QTest::newRow("start past the end") << Clip{1'000, 10, 11, 12, true, 0, 0, 0, 0} << 0 << "at or beyond the end";
        QTest::newRow("sparse, beyond 4 GiB") << model((5LL << 30) + 4'321, 5'000, 4'999, 5'000, true) << 0 << "";
        QTest::newRow("sparse, buffered") << model((5LL << 30) + 4'321, 5'000, 4'999, 5'000, false) << 0 << "";
        QRandomGenerator random(20240611);
        for (int i = 0; i < 60; ++i) {
            const int size = random.bounded(1, 3'000'000), d = random.bounded(1, std::min(size, 400) + 1);
            const int start = random.bounded(d), end = start + random.bounded(1, d + 1);
            QTest::addRow("random %d: %d bytes, D %d, %d to %d", i, size, d, start, end)
                << model(size, d, start, end, i % 2) << 0 << "";
        }
        QTest::newRow("R = 0") << Clip{4'000, 5'000, 1, 7, true, 0, 0, 0, 0} << 0 << "no byte rate";
        QTest::newRow("source is a folder") << big << int(SourceIsFolder) << "not a regular file";
        QTest::newRow("missing target folder") << big << int(NoTargetFolder) << "No such file";
        QTest::newRow("symlink to the source") << big << int(SymlinkToSource) << "in use: Cannot overwrite file";
        QTest::newRow("hard link to the source") << big << int(HardLinkToSource) << "in use: Cannot overwrite file";
        QTest::newRow("write fails part way") << big << int(WriteFails) << "disk on fire";
        QTest::newRow("cancel part way") << big << int(Cancel) << "cancelled: The cut was cancelled.";
    }

    void cut() // writes exactly the clip over the old file, or fails and leaves the folder and its files as they were
    {
        QFETCH(Clip, clip); QFETCH(int, fault); QFETCH(QString, reason);
        Folder dir;
        const std::int64_t from = std::max<std::int64_t>(0, clip.offset - 4'096); // noise near the clip, else a hole
        const QByteArray near = noise(std::min(clip.size, clip.offset + clip.length + 4'096) - from, clip.size);
        const QByteArray source = dir / "source.vob";
        CutRequest request{{source}, dir / "clip.vob", clip.d, clip.start, clip.end, Replace::Allowed};
        QVERIFY(writeFile(source, near, from, clip.size) && writeFile(request.target, QByteArray(9'999, 'x')));
        QVERIFY(::symlink(source, dir / "symlink") == 0 && ::link(source, dir / "hardlink") == 0);
        Progress progress;
        ClipCutter cutter(progress, [&] { if (fault == Cancel) cutter.cancel(); });
        cutter.useKernelCopy = clip.kernelCopy;
        switch (fault) {
        case SourceIsFolder: request.sources = {dir.path}; break;
        case NoTargetFolder: request.target = dir / "nowhere/clip.vob"; break;
        case SymlinkToSource: request.target = dir / "symlink"; break;
        case HardLinkToSource: request.target = dir / "hardlink"; break;
        case WriteFails:
            cutter.beforeWrite = [](std::int64_t at) { if (at > 0) throw std::runtime_error("disk on fire"); };
            break;
        case Cancel: cutter.beforeWrite = [](std::int64_t) { QThread::msleep(4); }; // slow pieces: cancelled early
        }
        const QByteArray targetBefore = readRaw(request.target);
        const QString outcome = outcomeOf([&] { cutter.cut(request); });
        QVERIFY2(outcome.contains(reason) && outcome.isEmpty() == reason.isEmpty(), qPrintable(outcome));
        QCOMPARE(readRaw(request.target), reason.isEmpty() ? near.mid(clip.offset - from, clip.length) : targetBefore);
        QCOMPARE(listing(dir.path), Names({"clip.vob", "hardlink", "source.vob", "symlink"}));
        if (reason.isEmpty()) {
            QCOMPARE(progress.maximum, clip.progressMaximum);
            QCOMPARE(progress.last, clip.progressFinal);
            QCOMPARE(progress.highest, progress.last);
        }
        QVERIFY2(fault != Cancel || progress.last < progress.maximum / 2, qPrintable(QString::number(progress.last)));
    }

    void target_data()
    {
        QTest::addColumn<QByteArray>("name");  // the target, in the folder
        QTest::addColumn<QString>("setup");    // what is at the name before the cut, or appears while it runs
        QTest::addColumn<bool>("replace");     // Replace::Allowed
        QTest::addColumn<QString>("message");  // none: the clip is there
        QTest::addColumn<QByteArray>("after"); // at the name: clip, old, second, source, "-" not a file, else bytes
        const QByteArray c = "c.vob", n255(255, 'n'), n256(256, 'n');
        const QString taken = "taken: \"c.vob\" appeared while the clip was being written; that file was kept.";
        const auto row = [&](const char *tag, const QByteArray &name, const char *setup, bool replace,
                             const QString &said, const QByteArray &after) {
            QTest::newRow(tag) << name << setup << replace << said << after;
        };
        row("new", c, "", false, "", "clip");
        row("new, not UTF-8", "c\xff\xfe.vob", "", false, "", "clip");
        row("appears midway", c, "appears", false, taken, "precious");
        row("appears midway, replace", c, "appears", true, "", "clip");
        row("second cut done midway", c, "second cut", false, taken, "second");
        row("exists", c, "file", false, "taken: \"c.vob\" already exists.", "old");
        row("exists, replace", c, "file", true, "", "clip");
        row("twin of the source", c, "twin", true, "in use: Cannot overwrite file in use: \"c.vob\" is the source "
            "file, or cannot be told apart from it.", "source");
        row("same size and time, first byte differs", c, "near twin", true, "", "clip");
        const QString notFile = "The target \"c.vob\" is %1; a clip can only replace a file.";
        row("directory", c, "directory", false, notFile.arg("a directory"), "-");
        row("directory, replace", c, "directory", true, notFile.arg("a directory"), "-");
        row("directory appears, replace", c, "directory appears", true, notFile.arg("a directory"), "-");
        row("FIFO, replace", c, "fifo", true, notFile.arg("a named pipe (FIFO)"), "-");
        row("socket, replace", c, "socket", true, notFile.arg("a socket"), "-");
        row("device, replace", c, "device", true, notFile.arg("a device"), "-");
        row("link to nothing, replace", c, "dangling", true, notFile.arg("a symbolic link that leads nowhere"), "-");
        row("link to a file, replace", c, "link", true, "", "clip");
        row("255 bytes, replace", n255, "file", true, "", "clip");
        row("256 bytes", n256, "", false, "The clip cannot be created as \"" + n256 + "\": File name too long.",
            "none");
        row("shown escaped", "a\\\x1b[0m\xff", "directory", false, "The target \"a\\\\\\x1B[0m\\xFF\" is a dir", "-");
    }

    void target() // the name gets the clip or keeps what it had; the folder holds nothing else
    {
        QFETCH(QByteArray, name); QFETCH(QString, setup); QFETCH(bool, replace); QFETCH(QString, message);
        QFETCH(QByteArray, after);
        Folder dir;
        const QByteArray target = dir / name, source = noise(3 << 20, 7), sourcePath = dir / "s.vob";
        QVERIFY(writeFile(sourcePath, source));
        sockaddr_un address{AF_UNIX, {}};
        qstrncpy(address.sun_path, target, sizeof address.sun_path);
        const std::map<QString, std::function<bool()>> make{
            {"file", [&] { return writeFile(target, "old"); }},
            {"near twin", [&] { return writeFile(target, "x" + source.mid(1)); }},
            {"twin", [&] { return writeFile(target, source); }},
            {"directory", [&] { return ::mkdir(target, 0755) == 0; }},
            {"fifo", [&] { return ::mkfifo(target, 0644) == 0; }},
            {"device", [&] { return ::mknod(target, S_IFCHR | 0666, makedev(1, 3)) == 0; }},
            {"dangling", [&] { return ::symlink("nowhere", target) == 0; }},
            {"link", [&] { return writeFile(dir / "real.vob", "old") && ::symlink("real.vob", target) == 0; }},
            {"socket", [&] {
                 return ::bind(::socket(AF_UNIX, SOCK_STREAM, 0), (sockaddr *)&address, sizeof address) == 0;
             }},
        };
        if (make.count(setup) && !make.at(setup)()) {
            if (setup == "device" && errno == EPERM)
                QSKIP("mknod needs root: no device node can be made here");
            QFAIL(std::strerror(errno));
        }
        struct stat status {};
        const timespec sameTime[2] = {{0, UTIME_OMIT}, (::stat(sourcePath, &status), status.st_mtim)}; // to the ns
        QVERIFY(!setup.contains("twin") || ::utimensat(AT_FDCWD, target, sameTime, 0) == 0);
        const QByteArray before = readRaw(target);

        Progress progress;
        ClipCutter cutter(progress, {}), second(progress, {});
        int writes = 0;
        cutter.beforeWrite = [&](std::int64_t) {
            if (writes++ == 0 && setup == "appears")
                writeFile(target, "precious");
            if (writes == 1 && setup == "directory appears")
                ::mkdir(target, 0755);
            if (writes == 1 && setup == "second cut")
                second.cut({{sourcePath}, target, 3, 0, 1});
        };
        const QString outcome = outcomeOf([&] {
            cutter.cut({{sourcePath}, target, 3, 1, 2, replace ? Replace::Allowed : Replace::Never});
        }).replace(dir.dir.path() + "/", "");
        QVERIFY2(message.isEmpty() ? outcome.isEmpty() : outcome.startsWith(message), qPrintable(outcome));
        const std::map<QByteArray, QByteArray> files{{"clip", source.mid((1 << 20) - 1, (1 << 20) + 4097)}, // N = 257
                                                     {"second", source.left((1 << 20) + 4097)}, {"old", before},
                                                     {"source", source}};
        if (after != "-")
            QCOMPARE(readRaw(target), files.count(after) ? files.at(after) : after);
        Names expected = Names{"s.vob"} + (after == "none" ? Names() : Names{name});
        expected += setup == "link" ? Names{"real.vob"} : Names();
        std::sort(expected.begin(), expected.end());
        QCOMPARE(listing(dir.path), expected);
        // refused at once: not a byte copied
        QCOMPARE(writes > 0, message.isEmpty() || message.contains("appeared") || setup.endsWith("appears"));
        QVERIFY(setup != "link" || readRaw(dir / "real.vob") == files.at("clip"));
    }

    void commitOrder_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::newRow("new name") << false;
        QTest::newRow("replacing") << true;
    }

    void commitOrder() // the clip is on disk before its name shows it, and the name before the folder is flushed
    {
        QFETCH(bool, replace);
        Folder dir;
        const QByteArray source = noise(1 << 20, 3);
        QVERIFY(writeFile(dir / "s.vob", source) && (!replace || writeFile(dir / "c.vob", "old")));
        Progress progress;
        ClipCutter cutter(progress, {});
        QStringList steps; // the step, and what the name shows then
        cutter.onCommitStep = [&](CommitStep step) {
            steps << QString("%1 %2").arg(int(step)).arg(readRaw(dir / "c.vob").left(3));
        };
        cutter.cut({{dir / "s.vob"}, dir / "c.vob", 2, 0, 1, replace ? Replace::Allowed : Replace::Never});
        const QString clip = source.left(3);
        QCOMPARE(steps, QStringList({replace ? "0 old" : "0 non", "1 " + clip, "2 " + clip}));
    }

    void copyCalls_data()
    {
        QTest::addColumn<bool>("kernel");
        QTest::addColumn<QString>("script");  // what the first 20 system calls of a kind do
        QTest::addColumn<QString>("message"); // none: the whole clip is written
        const QString shorter = "The source file got shorter while it was being read.";
        const QString noSpace = "Writing the clip failed: No space left on device.";
        QTest::newRow("read interrupted") << false << "pread EINTR" << "";
        QTest::newRow("write interrupted") << false << "pwrite EINTR" << "";
        QTest::newRow("writes one byte at a time") << false << "pwrite short" << "";
        QTest::newRow("kernel copy interrupted") << true << "copy EINTR" << "";
        QTest::newRow("kernel copy moves 1000 bytes at a time") << true << "copy short" << "";
        QTest::newRow("kernel copy unsupported: buffered") << true << "copy EXDEV" << "";
        QTest::newRow("disk takes nothing") << false << "pwrite nothing" << noSpace;
        QTest::newRow("disk full") << true << "copy ENOSPC" << noSpace;
        QTest::newRow("source shrinks, buffered") << false << "shrink" << shorter;
        QTest::newRow("source shrinks, kernel") << true << "shrink" << shorter;
    }

    void copyCalls()
    {
        QFETCH(bool, kernel); QFETCH(QString, script); QFETCH(QString, message);
        Folder dir;
        const QByteArray source = noise(8 << 20, 5);
        QVERIFY(writeFile(dir / "s.vob", source));
        Progress progress;
        ClipCutter cutter(progress, {});
        cutter.useKernelCopy = kernel;
        int calls = 0;
        const auto scripted = [&](const char *call) { return script.startsWith(call) && calls++ < 20; };
        const auto fail = [](int error) { errno = error; return ssize_t(-1); };
        const CopyCalls real = CopyCalls::system();
        cutter.copyCalls.pread = [&](int fd, void *buffer, size_t length, off_t at) {
            return scripted("pread") ? fail(EINTR) : real.pread(fd, buffer, length, at);
        };
        cutter.copyCalls.pwrite = [&](int fd, const void *buffer, size_t length, off_t at) {
            return !scripted("pwrite") ? real.pwrite(fd, buffer, length, at) : script.endsWith("EINTR") ? fail(EINTR)
                   : script.endsWith("short") ? real.pwrite(fd, buffer, 1, at) : 0;
        };
        cutter.copyCalls.copyFileRange = [&](int in, loff_t *inAt, int out, loff_t *outAt, size_t length) {
            return !scripted("copy") ? real.copyFileRange(in, inAt, out, outAt, length)
                   : script.endsWith("short") ? real.copyFileRange(in, inAt, out, outAt, 1000)
                   : fail(script.endsWith("EINTR") ? EINTR : script.endsWith("EXDEV") ? EXDEV : ENOSPC);
        };
        if (script == "shrink")
            cutter.beforeWrite = [&](std::int64_t written) { if (written > 0) ::truncate(dir / "s.vob", 4 << 20); };
        QCOMPARE(outcomeOf([&] { cutter.cut({{dir / "s.vob"}, dir / "c.vob", 8, 1, 7}); }), message);
        QCOMPARE(readRaw(dir / "c.vob"), message.isEmpty() ? source.mid((1 << 20) - 1, (6 << 20) + 4097) : "none");
        QCOMPARE(listing(dir.path), message.isEmpty() ? Names({"c.vob", "s.vob"}) : Names({"s.vob"}));
        QVERIFY2(script == "shrink" || calls > 0, "the scripted calls never happened");
    }

    void writeback_data()
    {
        QTest::addColumn<double>("speed"); // the disk's, bytes per second; the copy runs at 2 GB/s
        QTest::addColumn<double>("slice"); // how often it tells what it wrote, seconds
        QTest::newRow("4 MB/s, throttled") << 4e6 << 0.1;
        QTest::newRow("8 MB/s, throttled") << 8e6 << 0.1;
        QTest::newRow("30 MB/s, USB stick") << 30e6 << 0.01;
        QTest::newRow("500 MB/s") << 500e6 << 0.001;
        QTest::newRow("2 GB/s") << 2e9 << 0.0002;
        QTest::newRow("10 GB/s") << 10e9 << 0.0001;
    }

    void writeback() // once the speed is known, never more to flush than the disk writes in 300 ms; the disk kept busy
    {
        QFETCH(double, speed); QFETCH(double, slice);
        ScriptedDisk disk(speed, slice);
        Writeback writeback(disk);
        const double total = std::min(speed * 5, 1e9), copySpeed = 2e9;
        double copied = 0, backlog = 0; // what a cancel or the final flush waits for, seconds
        while (copied < total) {
            const std::int64_t piece = std::min<std::int64_t>(writeback.budget() / 2, 1 << 20); // as the engine does
            if (writeback.pending() + piece <= writeback.budget()) {
                disk.advance(piece / copySpeed);
                writeback.start(piece);
                copied += piece;
            } else {
                writeback.waitSome();
            }
            if (disk.clock > 1) // the speed is learnt
                backlog = std::max(backlog, (disk.given - disk.writtenUpTo) / speed);
        }
        const double took = disk.clock + (disk.given - disk.writtenUpTo) / speed;
        const double ideal = total / std::min(speed, copySpeed);
        QVERIFY2(backlog <= 0.3, qPrintable(QString("longest backlog %1 s").arg(backlog)));
        QVERIFY2(took <= 1.1 * ideal + 10 * slice, qPrintable(QString("took %1 s, ideal %2 s").arg(took).arg(ideal)));
    }

    void names_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain UTF-8") << QByteArray("Öl 日本.vob") << "\"Öl 日本.vob\"";
        QTest::newRow("not UTF-8") << QByteArray("c\xff\xc3.vob") << "\"c\\xFF\\xC3.vob\"";
        QTest::newRow("overlong, surrogate") << QByteArray("\xc0\xaf\xed\xa0\x80") << "\"\\xC0\\xAF\\xED\\xA0\\x80\"";
        QTest::newRow("controls, C1, direction") << QByteArray("a\nb\x7f\xc2\x85\xe2\x80\xae")
                                                 << "\"a\\x0Ab\\x7F\\xC2\\x85\\xE2\\x80\\xAE\"";
        QTest::newRow("backslash, quote") << QByteArray("a\\\"b") << "\"a\\\\\"b\"";
    }

    void names() { QFETCH(QByteArray, name); QTEST(QString::fromStdString(quotedName(name)), "shown"); }

    void exactNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("held"); // false: refused
        QTest::newRow("text") << "/tmp/Öl.vob" << true;
        QTest::newRow("replacement character") << QString("/tmp/c\uFFFD.vob") << false;
        QTest::newRow("lone surrogate") << QString("/tmp/c") + QChar(0xD800) << false;
        QTest::newRow("NUL") << QString("/tmp/a") + QChar(0) + "b" << false;
        QTest::newRow("empty") << "" << false;
    }

    void exactNames()
    {
        QFETCH(QString, name); QFETCH(bool, held);
        const QString outcome = outcomeOf([&] { QCOMPARE(exactFileName(name), QFile::encodeName(name)); });
        QVERIFY2(held ? outcome.isEmpty() : outcome.contains("cannot stand for one file exactly"), qPrintable(outcome));
    }

    void readOut_data()
    {
        QTest::addColumn<double>("seconds"); // from the player, rounded to whole seconds with ties to even
        QTest::addColumn<QString>("text");   // " h : m : s"; "overflow": RoundSeconds throws std::overflow_error
        for (const auto &[seconds, text] : std::vector<std::pair<double, QString>>{
                 {0, " 0 : 0 : 0"}, {59, " 0 : 0 : 59"}, {60, " 0 : 1 : 0"}, {3725, " 1 : 2 : 5"},
                 {35999, " 9 : 59 : 59"}, {36000, " 10 : 0 : 0"}, {INT32_MAX, " 596523 : 14 : 7"}, {-5, " 0 : 0 :-5"},
                 {2.5, " 0 : 0 : 2"}, {3.5, " 0 : 0 : 4"}, {99.5, " 0 : 1 : 40"}, {qQNaN(), "overflow"},
                 {3e9, "overflow"}})
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
        QTest::addColumn<QString>("command"); // bash, beside dvd.vob (9.97 s) and old.vob; $M is morvane-cut
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // all of stderr after "morvane-cut: "
        QTest::addColumn<Names>("files");     // the folder; "clip:" marks the file then holding seconds 2 to 5 at D 10
        const auto row = [](const char *tag, const QString &command, int exit, const QString &said, const Names &in) {
            QTest::newRow(tag) << "$M " + command << exit << said << in;
        };
        const Names both{"dvd.vob", "old.vob"};
        const QString cut = "--duration 10 --start 2 --end 5 ";
        row("--force over old", "--force --duration=10 --start=2 --end=5 dvd.vob old.vob", 0, "",
            {"dvd.vob", "clip:old.vob"});
        row("duration from the player", "--start 2 --end 5 dvd.vob new.vob", 0, "", both + Names{"clip:new.vob"});
        row("leading zeros", "--duration 0010 --start 02 --end 00000000005 dvd.vob n.vob", 0, "",
            both + Names{"clip:n.vob"});
        row("old without --force", cut + "dvd.vob old.vob", 2, "\"old.vob\" already exists; add --force to replace it.",
            both);
        row("option twice", "--duration 10 --start 3 --start=2 --end 5 dvd.vob n.vob", 2, "\"--start\" is given twice.",
            both);
        row("--force twice", "--force " + cut + "--force dvd.vob n.vob", 2, "\"--force\" is given twice.", both);
        row("start = end", "--duration 10 --start 5 --end 5 dvd.vob n.vob", 2,
            "the start (5) must be less than the end (5).", both);
        row("negative", "--duration 10 --start -1 --end 5 dvd.vob n.vob", 2, "--start cannot be negative.", both);
        row("too large", "--duration 10 --start 2 --end 2147483648 dvd.vob n.vob", 2, "--end is too large.", both);
        row("no target", cut + "dvd.vob", 2, "expected SOURCE and TARGET, got 1 path(s).", both);
        row("D = 0", "--duration 0 --start 2 --end 5 dvd.vob n.vob", 1,
            "The duration is 0 seconds, so the source has no byte rate.", both);
        row("directory, no --force", cut + "dvd.vob d", 2,
            "The target \"d\" is a directory; a clip can only replace a file.", both + Names{"d"});
        row("target not UTF-8", cut + "dvd.vob $'n\\xff.vob'", 0, "", both + Names{"clip:n\xff.vob"});
        row("--force onto a name that text mangles", "--force " + cut + "dvd.vob $'c\\xfe.vob'", 0, "",
            both + Names{"c\xef\xbf\xbd.vob", "clip:c\xfe.vob"});
        row("source not UTF-8, a sibling's name as text", cut + "$'s\\xff' n.vob", 1,
            "The source file \"s\\xFF\" cannot be opened: No such file or directory.", both + Names{"s\xef\xbf\xbd"});
        row("source not UTF-8, no duration", "--start 2 --end 5 $'s\\xfe' n.vob", 2, "cannot read the duration of "
            "\"s\\xFE\": the media player cannot open a name that is not text; give it with --duration.",
            both + Names{"s\xfe"});
        row("source is the target", "--force " + cut + "dvd.vob ./dvd.vob", 2,
            "Cannot overwrite file in use: \"./dvd.vob\" is the source file, or cannot be told apart from it.", both);
    }

    void morvaneCut() // every file named but the clip is there before, and unchanged after
    {
        QFETCH(QString, command); QFETCH(QString, message); QFETCH(Names, files);
        Folder dir;
        const QByteArray dvd = readRaw(MORVANE_TEST_MEDIA "/dvd.vob"), old = "an earlier clip";
        const auto before = [&](const QByteArray &name) { return QByteArray("ds").contains(name[0]) ? dvd : old; };
        for (const QByteArray &file : files)
            QVERIFY(file.startsWith("clip:") || (file == "d" ? ::mkdir(dir / file, 0755) == 0
                                                                : writeFile(dir / file, before(file))));
        QProcess cut;
        cut.setWorkingDirectory(dir.dir.path());
        cut.setEnvironment(QProcess::systemEnvironment() << "M=" MORVANE_CUT_PATH);
        cut.start("bash", {"-c", command});
        QVERIFY(cut.waitForFinished(60'000) && cut.exitStatus() == QProcess::NormalExit);
        QTEST(cut.exitCode(), "exitCode");
        QCOMPARE(QString(cut.readAllStandardError()), message.isEmpty() ? "" : "morvane-cut: " + message + "\n");
        const Clip clip = model(dvd.size(), 10, 2, 5, true);
        Names names;
        for (const QByteArray &file : files) {
            names << file.mid(file.startsWith("clip:") ? 5 : 0);
            const QByteArray expected = file.startsWith("clip:") ? dvd.mid(clip.offset, clip.length) : before(file);
            QVERIFY2(file == "d" || readRaw(dir / names.last()) == expected, file.constData());
        }
        std::sort(names.begin(), names.end());
        QCOMPARE(listing(dir.path), names);
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
