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

static QByteArray readAll(const QByteArray &path) { QFile file(QFile::decodeName(path)); return file.open(QIODevice::ReadOnly) ? file.readAll() : "none"; }
static QByteArray readRaw(const QByteArray &path) // bytes names that text cannot hold
{
    QByteArray all;
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK);
    for (char buffer[65536]; fd >= 0;) { const ssize_t got = ::read(fd, buffer, sizeof buffer); if (got <= 0) break; all.append(buffer, got); }
    return fd < 0 ? QByteArray("none") : (::close(fd), all);
}

static bool writeFile(const QString &path, const QByteArray &bytes, qint64 at = 0, qint64 size = -1) // the rest a hole
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size < 0 ? bytes.size() : size) && file.seek(at) && file.write(bytes) == bytes.size();
}

static QByteArrayList listing(const QByteArray &dir) // every name as bytes, hidden ones too
{
    QByteArrayList names;
    if (DIR *d = ::opendir(dir.constData())) {
        while (const dirent *entry = ::readdir(d))
            if (qstrcmp(entry->d_name, ".") && qstrcmp(entry->d_name, ".."))
                names << entry->d_name;
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// QTemporaryDir cannot remove names that are not text.
static auto removeRawNames(const QByteArray &folder)
{
    return qScopeGuard([folder] { for (const QByteArray &name : listing(folder)) ::unlink(folder + "/" + name), ::rmdir(folder + "/" + name); });
}

static QByteArray noise(qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    std::generate(bytes.begin(), bytes.end(), [random = QRandomGenerator(seed)]() mutable { return char(random.generate()); });
    return bytes;
}

static QString outcomeOf(const std::function<void()> &cut)
{
    try { cut(); } catch (const CutError &e) {
        return (dynamic_cast<const CutCancelled *>(&e) ? "cancelled: " : dynamic_cast<const TargetInUse *>(&e) ? "in use: "
                : dynamic_cast<const TargetTaken *>(&e) ? "taken: " : "") + QString::fromUtf8(e.what());
    }
    return "";
}

enum Fault { None, SourceIsFolder, NoTargetFolder, SymlinkToSource, HardLinkToSource, WriteFails, Cancel };

// A disk that writes what it is given in order at a fixed speed, on a scripted clock, and tells so in slices (a throttle's are 100 ms).
struct ScriptedDisk : Writeback::Disk {
    double speed, slice; // bytes per second; seconds
    double clock = 0, writtenUpTo = 0, given = 0, busyFrom = 0, told = 0;
    ScriptedDisk(double bytesPerSecond, double sliceSeconds) : speed(bytesPerSecond), slice(sliceSeconds) {}
    void advance(double seconds) // the disk writes while time passes
    {
        writtenUpTo = std::min(given, std::max(writtenUpTo, 0.0) + std::max(0.0, clock + seconds - std::max(clock, busyFrom)) * speed);
        if (std::floor((clock + seconds) / slice) > std::floor(clock / slice))
            told = writtenUpTo;
        clock += seconds;
    }
    void startWriting(std::int64_t, std::int64_t length) override { if (writtenUpTo >= given) busyFrom = clock; given += length; }
    bool written(std::int64_t offset, std::int64_t length) override { return told >= offset + length; }
    void pause() override { advance(0.001); }
    Writeback::Clock::time_point now() const override
    {
        return Writeback::Clock::time_point(std::chrono::nanoseconds(std::int64_t(clock * 1e9)));
    }
};

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
        QTest::newRow("start at the last second: 2 bytes") << Clip{7, 3, 3, 4, true, 5, 2, 4'099, 4'096} << 0 << "";
        QTest::newRow("start one byte past the end") << Clip{7, 3, 4, 5, true, 0, 0, 0, 0} << 0 << "at or beyond the end";
        QTest::newRow("start a second past the end") << Clip{1'000, 10, 11, 12, true, 0, 0, 0, 0} << 0 << "at or beyond the end";
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
        QTest::newRow("symlink to the source") << model(8 << 20, 8, 1, 7, true) << int(SymlinkToSource) << "in use: Cannot overwrite file in use";
        QTest::newRow("hard link to the source") << model(8 << 20, 8, 1, 7, true) << int(HardLinkToSource) << "in use: Cannot overwrite file in use";
        QTest::newRow("write fails part way") << model(8 << 20, 8, 1, 7, true) << int(WriteFails) << "disk on fire";
        QTest::newRow("cancel part way") << model(8 << 20, 8, 1, 7, true) << int(Cancel) << "cancelled: The cut was cancelled.";
    }

    void cut() // writes exactly the clip over the old one, or fails with the reason and leaves the folder and its files as they were
    {
        QFETCH(Clip, clip); QFETCH(int, fault); QFETCH(QString, reason);
        QTemporaryDir dir;
        const std::int64_t from = std::max<std::int64_t>(0, clip.offset - 4'096); // noise near the clip, a hole elsewhere
        const QByteArray near = noise(std::min(clip.size, clip.offset + clip.length + 4'096) - from, clip.size);
        const QByteArray folder = QFile::encodeName(dir.path());
        CutRequest request{folder + "/source.vob", folder + "/clip.vob", clip.d, clip.start, clip.end, Replace::Allowed};
        QVERIFY(writeFile(dir.filePath("source.vob"), near, from, clip.size) && writeFile(dir.filePath("clip.vob"), QByteArray(clip.length + 4'097, 'x')));
        QVERIFY(QFile::link(dir.filePath("source.vob"), dir.filePath("symlink")) && ::link(request.source, folder + "/hardlink") == 0);
        Progress progress;
        ClipCutter cutter(progress, [&] { if (fault == Cancel) cutter.cancel(); });
        cutter.useKernelCopy = clip.kernelCopy;
        switch (fault) {
        case SourceIsFolder: request.source = folder; break;
        case NoTargetFolder: request.target = folder + "/nowhere/clip.vob"; break;
        case SymlinkToSource: request.target = folder + "/symlink"; break;
        case HardLinkToSource: request.target = folder + "/hardlink"; break;
        case WriteFails: cutter.beforeWrite = [](std::int64_t at) { if (at > 0) throw std::runtime_error("disk on fire"); }; break;
        case Cancel: cutter.beforeWrite = [](std::int64_t) { QThread::msleep(4); }; // slow pieces: cancelled early
        }
        const QByteArray targetBefore = readAll(request.target);
        const QString outcome = outcomeOf([&] { cutter.cut(request); });
        QVERIFY2(outcome.contains(reason) && outcome.isEmpty() == reason.isEmpty(), qPrintable(outcome));
        QCOMPARE(readAll(request.target), reason.isEmpty() ? near.mid(clip.offset - from, clip.length) : targetBefore);
        QCOMPARE(listing(folder), QByteArrayList({"clip.vob", "hardlink", "source.vob", "symlink"}));
        if (reason.isEmpty()) {
            QCOMPARE(progress.maximum, clip.progressMaximum);
            QCOMPARE(progress.last, clip.progressFinal);
            QCOMPARE(progress.highest, progress.last);
        }
        QVERIFY2(fault != Cancel || progress.last < progress.maximum / 2, qPrintable(QString::number(progress.last))); // stops early
    }

    void target_data()
    {
        QTest::addColumn<QByteArray>("name");  // the target, in the folder
        QTest::addColumn<QString>("setup");    // what is at the name before the cut, or appears while it runs
        QTest::addColumn<bool>("replace");     // Replace::Allowed
        QTest::addColumn<QString>("message");  // none: the clip is there
        QTest::addColumn<QByteArray>("after"); // the file at the name: "clip", "old", "second", "source", its bytes, or "-" not a file
        const QByteArray c = "c.vob", n255(255, 'n'), n256(256, 'n');
        QTest::newRow("new") << c << "" << false << "" << QByteArray("clip");
        QTest::newRow("new, not UTF-8") << QByteArray("c\xff\xfe.vob") << "" << false << "" << QByteArray("clip");
        QTest::newRow("appears midway") << c << "appears" << false << "taken: \"c.vob\" appeared while" << QByteArray("precious");
        QTest::newRow("appears midway, replace") << c << "appears" << true << "" << QByteArray("clip");
        QTest::newRow("second cut done midway") << c << "second cut" << false << "taken: \"c.vob\" appeared while" << QByteArray("second");
        QTest::newRow("exists") << c << "file" << false << "taken: \"c.vob\" already exists." << QByteArray("old");
        QTest::newRow("exists, replace") << c << "file" << true << "" << QByteArray("clip");
        QTest::newRow("twin of the source") << c << "twin" << true << "in use: Cannot overwrite file in use: \"c.vob\" is" << QByteArray("source");
        QTest::newRow("same size and time, first byte differs") << c << "near twin" << true << "" << QByteArray("clip");
        QTest::newRow("directory") << c << "directory" << false << "\"c.vob\" is a directory;" << QByteArray("-");
        QTest::newRow("directory, replace") << c << "directory" << true << "\"c.vob\" is a directory;" << QByteArray("-");
        QTest::newRow("directory appears, replace") << c << "directory appears" << true << "\"c.vob\" is a directory;" << QByteArray("-");
        QTest::newRow("FIFO, replace") << c << "fifo" << true << "\"c.vob\" is a named pipe (FIFO);" << QByteArray("-");
        QTest::newRow("socket, replace") << c << "socket" << true << "\"c.vob\" is a socket;" << QByteArray("-");
        QTest::newRow("device, replace") << c << "device" << true << "\"c.vob\" is a device;" << QByteArray("-");
        QTest::newRow("link to nothing, replace") << c << "dangling" << true << "a symbolic link that leads nowhere" << QByteArray("-");
        QTest::newRow("link to a file, replace") << c << "link" << true << "" << QByteArray("clip");
        QTest::newRow("255 bytes, replace") << n255 << "file" << true << "" << QByteArray("clip");
        QTest::newRow("256 bytes") << n256 << "" << false << QString("\"" + n256 + "\": File name too long.") << QByteArray("none");
        QTest::newRow("control and backslash shown escaped") << QByteArray("a\\\x1b[0m\xff") << "directory" << true
                                                             << "\"a\\\\\\x1B[0m\\xFF\" is a dir" << QByteArray("-");
    }

    void target() // the name gets the clip or keeps what it had; the folder holds nothing else
    {
        QFETCH(QByteArray, name); QFETCH(QString, setup); QFETCH(bool, replace); QFETCH(QString, message); QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()), target = folder + "/" + name, source = noise(3 << 20, 7);
        const auto cleanUp = removeRawNames(folder);
        QVERIFY(writeFile(dir.filePath("s.vob"), source));
        bool made = true;
        if (setup == "file" || setup == "near twin")
            made = writeFile(QFile::decodeName(target), setup == "file" ? QByteArray("old") : "x" + source.mid(1));
        else if (setup == "twin")
            made = QFile::copy(dir.filePath("s.vob"), QFile::decodeName(target));
        else if (setup == "directory")
            made = ::mkdir(target, 0755) == 0;
        else if (setup == "fifo")
            made = ::mkfifo(target, 0644) == 0;
        else if (setup == "device" && !(made = ::mknod(target, S_IFCHR | 0666, makedev(1, 3)) == 0) && errno == EPERM)
            QSKIP("mknod needs root: a device node cannot be made here");
        else if (setup == "dangling")
            made = ::symlink("nowhere", target) == 0;
        else if (setup == "link")
            made = writeFile(dir.filePath("real.vob"), "old") && ::symlink("real.vob", target) == 0;
        else if (setup == "socket") {
            sockaddr_un address{AF_UNIX, {}};
            qstrncpy(address.sun_path, target, sizeof address.sun_path);
            made = ::bind(::socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        }
        QVERIFY2(made, std::strerror(errno));
        if (setup == "twin" || setup == "near twin") { // the same time as the source, to the nanosecond
            struct stat status {};
            QVERIFY(::stat(folder + "/s.vob", &status) == 0);
            const timespec times[2] = {status.st_atim, status.st_mtim};
            QVERIFY(::utimensat(AT_FDCWD, target, times, 0) == 0);
        }
        const QByteArray before = readRaw(target);

        Progress progress;
        ClipCutter cutter(progress, {}), second(progress, {});
        int writes = 0;
        cutter.beforeWrite = [&](std::int64_t) {
            if (writes++ > 0)
                return;
            if (setup == "appears") QVERIFY(writeFile(QFile::decodeName(target), "precious"));
            if (setup == "directory appears") QVERIFY(::mkdir(target, 0755) == 0);
            if (setup == "second cut") second.cut({folder + "/s.vob", target, 3, 0, 1});
        };
        const QString outcome = outcomeOf([&] { cutter.cut({folder + "/s.vob", target, 3, 1, 2, replace ? Replace::Allowed : Replace::Never}); })
                                    .replace(dir.path() + "/", "");
        QVERIFY2(message.isEmpty() ? outcome.isEmpty() : outcome.contains(message), qPrintable(outcome));
        const QByteArray clip = source.mid((1 << 20) - 1, (1 << 20) + 4097), secondClip = source.left((1 << 20) + 4097); // N = 257
        if (after != "-")
            QCOMPARE(readRaw(target), after == "clip" ? clip : after == "second" ? secondClip : after == "old" ? before : after == "source" ? source : after);
        QByteArrayList expected{"s.vob"};
        if (after != "none")
            expected << name;
        if (setup == "link")
            expected << "real.vob";
        std::sort(expected.begin(), expected.end());
        QCOMPARE(listing(folder), expected);
        QCOMPARE(writes > 0, message.isEmpty() || message.contains("appeared") || setup.endsWith("appears")); // no byte copied when refused at once
        if (setup == "link")
            QCOMPARE(QFileInfo(QFile::decodeName(target)).symLinkTarget(), dir.filePath("real.vob"));
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
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()), source = noise(1 << 20, 3);
        QVERIFY(writeFile(dir.filePath("s.vob"), source) && (!replace || writeFile(dir.filePath("c.vob"), "old")));
        Progress progress;
        ClipCutter cutter(progress, {});
        QStringList steps;
        cutter.onCommitStep = [&](CommitStep step) {
            steps << QString("%1:%2").arg(int(step)).arg(QString(readRaw(folder + "/c.vob").left(3)));
        };
        cutter.cut({folder + "/s.vob", folder + "/c.vob", 2, 0, 1, replace ? Replace::Allowed : Replace::Never});
        const QString before = replace ? "old" : "non";
        QCOMPARE(steps, QStringList({"0:" + before, "1:" + QString(source.left(3)), "2:" + QString(source.left(3))}));
    }

    void copyCalls_data()
    {
        QTest::addColumn<bool>("kernel");
        QTest::addColumn<QString>("script"); // what the system calls do at first
        QTest::addColumn<QString>("message"); // none: the whole clip is written
        QTest::newRow("read interrupted") << false << "pread EINTR" << "";
        QTest::newRow("write interrupted") << false << "pwrite EINTR" << "";
        QTest::newRow("writes one byte at a time at first") << false << "pwrite short" << "";
        QTest::newRow("kernel copy interrupted") << true << "copy EINTR" << "";
        QTest::newRow("kernel copy moves 1000 bytes at a time at first") << true << "copy short" << "";
        QTest::newRow("kernel copy unsupported: buffered") << true << "copy EXDEV" << "";
        QTest::newRow("disk takes nothing") << false << "pwrite 0" << "Writing the clip failed: No space left on device.";
        QTest::newRow("disk full") << true << "copy ENOSPC" << "Writing the clip failed: No space left on device.";
        QTest::newRow("source shrinks, buffered") << false << "shrink" << "The source file got shorter while it was being read.";
        QTest::newRow("source shrinks, kernel") << true << "shrink" << "The source file got shorter while it was being read.";
    }

    void copyCalls()
    {
        QFETCH(bool, kernel); QFETCH(QString, script); QFETCH(QString, message);
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()), source = noise(8 << 20, 5);
        QVERIFY(writeFile(dir.filePath("s.vob"), source));
        Progress progress;
        ClipCutter cutter(progress, {});
        cutter.useKernelCopy = kernel;
        int calls = 0;
        const auto fault = [&](const char *call) { return script.startsWith(call) && calls++ < 20; };
        const auto fail = [](int error) { errno = error; return ssize_t(-1); };
        const CopyCalls real = CopyCalls::system();
        cutter.copyCalls.pread = [&](int fd, void *buffer, size_t length, off_t at) {
            return fault("pread") ? fail(EINTR) : real.pread(fd, buffer, length, at);
        };
        cutter.copyCalls.pwrite = [&](int fd, const void *buffer, size_t length, off_t at) {
            return !fault("pwrite") ? real.pwrite(fd, buffer, length, at) : script.endsWith("EINTR") ? fail(EINTR)
                   : script.endsWith("short") ? real.pwrite(fd, buffer, 1, at) : 0;
        };
        cutter.copyCalls.copyFileRange = [&](int in, loff_t *inAt, int out, loff_t *outAt, size_t length) {
            if (!fault("copy"))
                return real.copyFileRange(in, inAt, out, outAt, length);
            return script.endsWith("short") ? real.copyFileRange(in, inAt, out, outAt, 1000)
                   : fail(script.endsWith("EINTR") ? EINTR : script.endsWith("EXDEV") ? EXDEV : ENOSPC);
        };
        if (script == "shrink")
            cutter.beforeWrite = [&](std::int64_t written) { if (written > 0) QFile::resize(dir.filePath("s.vob"), 4 << 20); };
        const QString outcome = outcomeOf([&] { cutter.cut({folder + "/s.vob", folder + "/c.vob", 8, 1, 7}); });
        QCOMPARE(outcome, message);
        QCOMPARE(readRaw(folder + "/c.vob"), message.isEmpty() ? source.mid((1 << 20) - 1, (6 << 20) + 4097) : "none");
        QCOMPARE(listing(folder), message.isEmpty() ? QByteArrayList({"c.vob", "s.vob"}) : QByteArrayList({"s.vob"}));
        QVERIFY2(script == "shrink" || calls > 0, "the scripted fault never happened");
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

    void writeback() // on a scripted disk: once its speed is known, never more left to flush than it writes in 300 ms; the disk kept busy
    {
        QFETCH(double, speed); QFETCH(double, slice);
        ScriptedDisk disk(speed, slice);
        Writeback writeback(disk);
        const double total = std::min(speed * 5, 1e9), copySpeed = 2e9;
        double copied = 0, longestBacklog = 0; // seconds the disk needs for what is pending: a final flush, or a cancel, waits that long
        while (copied < total) {
            const std::int64_t piece = std::min<std::int64_t>(writeback.budget() / 2, 1 << 20); // as the engine sizes them
            if (writeback.pending() + piece <= writeback.budget()) {
                disk.advance(piece / copySpeed);
                writeback.start(piece);
                copied += piece;
            } else {
                writeback.waitSome();
            }
            if (disk.clock > 1) // the speed is learnt
                longestBacklog = std::max(longestBacklog, (disk.given - disk.writtenUpTo) / speed);
        }
        const double lastFlush = (disk.given - disk.writtenUpTo) / speed, ideal = std::max(total / speed, total / copySpeed);
        QVERIFY2(longestBacklog <= 0.3, qPrintable(QString("longest backlog %1 s").arg(longestBacklog)));
        QVERIFY2(disk.clock + lastFlush <= 1.1 * ideal + 10 * slice, // ten slices to learn the speed
                qPrintable(QString("took %1 s, ideal %2 s").arg(disk.clock + lastFlush).arg(ideal)));
    }

    void names_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain UTF-8") << QByteArray("Öl 日本.vob") << "\"Öl 日本.vob\"";
        QTest::newRow("not UTF-8") << QByteArray("c\xff\xc3.vob") << "\"c\\xFF\\xC3.vob\"";
        QTest::newRow("overlong and surrogate") << QByteArray("\xc0\xaf\xed\xa0\x80") << "\"\\xC0\\xAF\\xED\\xA0\\x80\"";
        QTest::newRow("controls, C1, direction") << QByteArray("a\nb\x7f\xc2\x85\xe2\x80\xae") << "\"a\\x0Ab\\x7F\\xC2\\x85\\xE2\\x80\\xAE\"";
        QTest::newRow("backslash, quote") << QByteArray("a\\\"b") << "\"a\\\\\"b\"";
    }

    void names() { QFETCH(QByteArray, name); QTEST(QString::fromStdString(quotedName(name)), "shown"); }

    void exactNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("held");
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
        QTest::addColumn<QString>("command"); // bash, beside dvd.vob (9.97 s) and old.vob; $M is morvane-cut
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // on stderr; none: the last file named holds seconds 2 to 5 at D = 10
        QTest::addColumn<QByteArrayList>("files"); // the folder afterwards
        const QByteArrayList both{"dvd.vob", "old.vob"}, made = both + QByteArrayList{"new.vob"};
        QTest::newRow("--force over old") << "$M --force --duration=10 --start=2 --end=5 dvd.vob old.vob" << 0 << "" << both;
        QTest::newRow("duration from the player") << "$M --start 2 --end 5 dvd.vob new.vob" << 0 << "" << made;
        QTest::newRow("leading zeros") << "$M --duration 0010 --start 02 --end 00000000005 dvd.vob new.vob" << 0 << "" << made;
        QTest::newRow("old without --force") << "$M --duration 10 --start 2 --end 5 dvd.vob old.vob" << 2 << "\"old.vob\" already exists; add --force" << both;
        QTest::newRow("option twice") << "$M --duration 10 --start 3 --start=2 --end 5 dvd.vob new.vob" << 2 << "\"--start\" is given twice." << both;
        QTest::newRow("--force twice") << "$M --force --duration 10 --start 2 --end 5 --force dvd.vob new.vob" << 2 << "\"--force\" is given twice." << both;
        QTest::newRow("start = end") << "$M --duration 10 --start 5 --end 5 dvd.vob new.vob" << 2 << "less than the end" << both;
        QTest::newRow("negative") << "$M --duration 10 --start -1 --end 5 dvd.vob new.vob" << 2 << "cannot be negative" << both;
        QTest::newRow("too large") << "$M --duration 10 --start 2 --end 2147483648 dvd.vob new.vob" << 2 << "--end is too large." << both;
        QTest::newRow("no target") << "$M --duration 10 --start 2 --end 5 dvd.vob" << 2 << "expected SOURCE and TARGET" << both;
        QTest::newRow("D = 0") << "$M --duration 0 --start 2 --end 5 dvd.vob new.vob" << 1 << "duration is 0" << both;
        QTest::newRow("directory, no --force") << "mkdir new.vob; $M --duration 10 --start 2 --end 5 dvd.vob new.vob" << 2
                                               << "The target \"new.vob\" is a directory; a clip can only replace a file." << made;
        QTest::newRow("target not UTF-8") << "$M --duration 10 --start 2 --end 5 dvd.vob $'n\\xff.vob'" << 0 << "" << both + QByteArrayList{"n\xff.vob"};
        QTest::newRow("--force onto a sibling's mangled name") << "cp old.vob $'c\\xef\\xbf\\xbd.vob'; $M --force --duration 10 --start 2 --end 5 dvd.vob $'c\\xfe.vob'"
                                                          << 0 << "" << both + QByteArrayList{"c\xef\xbf\xbd.vob", "c\xfe.vob"};
        QTest::newRow("source not UTF-8, sibling mangled") << "mv dvd.vob $'s\\xef\\xbf\\xbd'; $M --duration 10 --start 2 --end 5 $'s\\xff' new.vob"
                                                      << 1 << "The source file \"s\\xFF\" cannot be opened: No such file" << QByteArrayList{"old.vob", "s\xef\xbf\xbd"};
        QTest::newRow("source not UTF-8, no duration") << "mv dvd.vob $'s\\xff'; $M --start 2 --end 5 $'s\\xff' new.vob" << 2
                                                  << "cannot read the duration of \"s\\xFF\": the media player" << QByteArrayList{"old.vob", "s\xff"};
        QTest::newRow("source is the target") << "$M --force --duration 10 --start 2 --end 5 dvd.vob ./dvd.vob" << 2
                                         << "Cannot overwrite file in use: \"./dvd.vob\" is the source file" << both;
    }

    void morvaneCut()
    {
        QFETCH(QString, command); QFETCH(QString, message); QFETCH(QByteArrayList, files);
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()), dvd = readAll(MORVANE_TEST_MEDIA "/dvd.vob"), old = "an earlier clip";
        QVERIFY(writeFile(dir.filePath("dvd.vob"), dvd) && writeFile(dir.filePath("old.vob"), old));
        const auto cleanUp = removeRawNames(folder);
        QProcess cut;
        cut.setWorkingDirectory(dir.path());
        cut.setEnvironment(QProcess::systemEnvironment() << "M=" MORVANE_CUT_PATH);
        cut.start("bash", {"-c", command});
        QVERIFY(cut.waitForFinished(60'000) && cut.exitStatus() == QProcess::NormalExit);
        QTEST(cut.exitCode(), "exitCode");
        const QString stdErr = cut.readAllStandardError();
        QVERIFY2(message.isEmpty() ? stdErr.isEmpty() : stdErr == "morvane-cut: " + message || stdErr.contains(message), qPrintable(stdErr));
        std::sort(files.begin(), files.end());
        QCOMPARE(listing(folder), files);
        const Clip clip = model(dvd.size(), 10, 2, 5, true);
        const QByteArray last = QFile::encodeName(command.section(' ', -1)).replace("$'", "").replace("'", "").replace("\\xff", "\xff").replace("\\xfe", "\xfe");
        for (const QByteArray &file : files)
            QCOMPARE(readRaw(folder + "/" + file), message.isEmpty() && file == last ? dvd.mid(clip.offset, clip.length)
                                                  : file == "old.vob" || file.startsWith("c\xef") ? old : file == "new.vob" ? "" : readRaw(folder + "/" + file));
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
