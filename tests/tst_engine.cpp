#include "files/engine/ClipCutter.h"
#include "files/engine/FileName.h"
#include "files/engine/Writeback.h"
#include "state/TimeText.h"
#include "support/Cut.h"

#include <QtTest>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;
using Names = QByteArrayList;
using I64 = std::int64_t;

struct Clip { // the source's size, its duration D and the marks; what the byte rule gives
    I64 size;
    int d, start, end;
    bool kernel;
    I64 offset = 0, length = 0, maximum = 0, final = 0; // of the clip, and the progress at the end
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

static QByteArray contentOf(const QByteArray &path) // "none" when missing, "-" when not a file
{
    struct stat status {};
    if (::stat(path, &status) || !S_ISREG(status.st_mode))
        return status.st_mode ? "-" : "none";
    QByteArray bytes(status.st_size, 0);
    std::ifstream(path.constData(), std::ios::binary).read(bytes.data(), bytes.size());
    return bytes;
}

static Names listing(const QByteArray &dir) // every name as bytes, hidden ones too
{
    Names names;
    for (const auto &entry : std::filesystem::directory_iterator(dir.constData()))
        names << QByteArray::fromStdString(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

struct Folder { // removes names that are not text too
    QByteArray path = [] {
        char name[] = "/tmp/tst_engine.XXXXXX";
        return QByteArray(::mkdtemp(name));
    }();
    QByteArray operator/(const QByteArray &name) const { return path + "/" + name; }
    ~Folder() { std::filesystem::remove_all(path.constData()); }
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
        QTest::addColumn<QString>("setup");   // what is at the name before the cut, or goes wrong while it runs
        QTest::addColumn<bool>("replace");    // Replace::Allowed
        QTest::addColumn<QString>("reason");  // none when the clip is written
        const auto row = [](const char *tag, Clip c, const char *setup = "file", const QString &why = "",
                            bool replace = true, const QByteArray &name = "c.vob") {
            QTest::newRow(tag) << c << name << QString(setup) << replace << why;
        };
        // R = size / D; S = R x start, E = R x end; N = (E - S) / 4096 + 1 blocks of 4097 bytes, 4096 apart, from
        // 1-based byte S (0-based S - 1, or byte 0 for S = 0), none past the end; progress to (E - S) + 4097.
        row("from 0, buffered", {409'600, 100, 0, 1, false, 0, 8'193, 8'193, 8'192});
        row("past the end, buffered", {10'000'000, 100, 90, 200, false, 8'999'999, 1'000'001, 11'004'097, 11'001'856});
        row("7 bytes over 3 s, 3 to 4: the last 2", {7, 3, 3, 4, true, 5, 2, 4'099, 4'096});
        row("beyond 4 GiB, R not whole",
            {(5LL << 30) + 4'321, 5'000, 4'999, 5'000, true, 5'367'636'257, 1'077'184, 1'077'839, 1'077'248});
        row("start a byte past the end", {7, 3, 4, 5, true}, "file", "at or beyond the end");
        row("D = 0", {4'000, 0, 1, 7, true}, "file", "The duration is 0 seconds, so the source has no byte rate.");
        row("R = 0", {4'000, 5'000, 1, 7, true}, "file", "fewer bytes (4000) than its duration has seconds (5000)");
        row("marks out of order", {4'000, 5, 3, 3, true}, "file", "The start mark must come before the end mark.");
        row("negative mark", {4'000, 5, -1, 3, true}, "file", "The marks cannot be negative.");
        const Clip big{8 << 20, 8, 1, 7, true, 1'048'575, 6'295'553, 6'295'553, 6'295'552};
        Clip buffered = big;
        buffered.kernel = false;
        const QString inUse = "in use: Cannot overwrite file in use: \"c.vob\"";
        const QString notFile = "target \"c.vob\" is %1; a clip can only replace a file.";
        const QString noSpace = "Writing the clip failed: No space left on device.";
        const QString shorter = "The source file got shorter while it was being read.";
        row("source is a folder", big, "source folder", "not a regular file");
        row("missing target folder", big, "", "No such file", true, "nowhere/c.vob");
        row("hard link to the source", big, "hard link to source", inUse);
        row("twin of the source", big, "twin", inUse);
        row("same size and time, first byte differs", big, "near twin");
        row("write fails midway", big, "fails", "Writing the clip failed: disk on fire");
        row("cancel midway", big, "cancel", "cancelled: The cut was cancelled.");
        row("new, not UTF-8", big, "", "", false, "c\xff\xfe.vob");
        row("appears midway", big, "appears",
            "taken: \"c.vob\" appeared while the clip was being written; that file was kept.", false);
        row("exists", big, "file", "taken: \"c.vob\" already exists.", false);
        row("directory", big, "directory", notFile.arg("a directory"), false);
        row("directory appears", big, "dir appears", notFile.arg("a directory"));
        row("FIFO", big, "fifo", notFile.arg("a named pipe (FIFO)"));
        row("socket", big, "socket", notFile.arg("a socket"));
        row("device", big, "device", notFile.arg("a device"));
        row("link to nothing", big, "dangling", notFile.arg("a symbolic link that leads nowhere"));
        row("link to a file", big, "link");
        row("255 bytes", big, "file", "", true, QByteArray(255, 'n'));
        row("256 bytes", big, "", "\": File name too long.", false, QByteArray(256, 'n'));
        row("write interrupted", buffered, "pwrite EINTR");
        row("writes one byte at a time", buffered, "pwrite short");
        row("disk takes nothing", buffered, "pwrite nothing", noSpace);
        row("kernel copy interrupted", big, "copy EINTR");
        row("kernel copy moves 1000 bytes at a time", big, "copy short");
        row("kernel copy unsupported: buffered", big, "copy EXDEV");
        row("disk full", big, "copy ENOSPC", noSpace);
        row("source shrinks, buffered", buffered, "shrink", shorter);
        row("source shrinks, kernel", big, "shrink", shorter);
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
        const I64 from = std::max<I64>(0, clip.offset - 4'096); // noise near the clip, else a hole
        QByteArray near(std::min(clip.size, clip.offset + clip.length + 4'096) - from, Qt::Uninitialized);
        QRandomGenerator(clip.size).fillRange(reinterpret_cast<quint32 *>(near.data()), near.size() / 4);
        const QByteArray bytes = near.mid(clip.offset - from, clip.length);
        QVERIFY(writeFile(source, near, clip.size, from));
        const std::map<QString, std::function<bool()>> make{
            {"file", [&] { return writeFile(target, "old"); }},
            {"twin", [&] { return writeFile(target, near, clip.size, from); }},
            {"near twin", [&] { return writeFile(target, "x" + QByteArray(from - 1, 0) + near, clip.size); }},
            {"hard link to source", [&] { return !::link(source, target); }},
            {"directory", [&] { return !::mkdir(target, 0755); }},
            {"fifo", [&] { return !::mknod(target, S_IFIFO | 0644, 0); }},
            {"socket", [&] { return !::mknod(target, S_IFSOCK | 0644, 0); }},
            {"device", [&] { return !::mknod(target, S_IFCHR | 0644, makedev(1, 3)); }},
            {"dangling", [&] { return !::symlink("nowhere", target); }},
            {"link", [&] { return writeFile(dir / "real.vob", "old") && !::symlink("real.vob", target); }},
        };
        if (make.count(setup) && !make.at(setup)()) {
            if (setup == "device" && errno == EPERM)
                QSKIP("mknod needs root: no device node can be made here");
            QFAIL(std::strerror(errno));
        }
        struct stat status {};
        QVERIFY(::stat(source, &status) == 0);
        const timespec sameTime[2] = {{0, UTIME_OMIT}, status.st_mtim}; // to the ns
        QVERIFY(!setup.contains("twin") || ::utimensat(AT_FDCWD, target, sameTime, 0) == 0);
        const QByteArray kept =
            QMap<QString, QByteArray>{{"appears", "precious"}, {"dir appears", "-"}}.value(setup, contentOf(target));
        Names names = listing(dir.path);
        if ((reason.isEmpty() || setup.endsWith("appears")) && !names.contains(name)) {
            names << name;
            std::sort(names.begin(), names.end());
        }

        Progress progress;
        ClipCutter cutter(progress, [&] {
            if (setup == "cancel")
                cutter.cancel();
        });
        cutter.useKernelCopy = clip.kernel;
        int writes = 0;
        cutter.beforeWrite = [&](I64 at) {
            const bool first = writes++ == 0;
            if (first && setup == "appears")
                writeFile(target, "precious");
            if (first && setup == "dir appears")
                ::mkdir(target, 0755);
            if (at > 0 && setup == "fails")
                throw std::runtime_error("disk on fire");
            if (at > 0 && setup == "shrink")
                ::truncate(source, 4 << 20);
            if (setup == "cancel")
                QThread::msleep(4); // slow pieces: cancelled early
        };
        // The first 20 calls of the kind setup names fail with its errno, or move less: 1000 bytes, 1 or none.
        int calls = 0;
        const auto scripted = [&](const char *call) { return setup.startsWith(call) && calls++ < 20; };
        const std::map<QString, int> errors{{"EINTR", EINTR}, {"EXDEV", EXDEV}, {"ENOSPC", ENOSPC}};
        const auto fail = [&] {
            errno = errors.at(setup.section(' ', 1));
            return ssize_t(-1);
        };
        const CopyCalls real = CopyCalls::system();
        cutter.copyCalls.copyFileRange = [&](int in, loff_t *inAt, int out, loff_t *outAt, size_t length) {
            if (!scripted("copy"))
                return real.copyFileRange(in, inAt, out, outAt, length);
            if (setup.endsWith("short"))
                return real.copyFileRange(in, inAt, out, outAt, 1000);
            return fail();
        };
        cutter.copyCalls.pwrite = [&](int fd, const void *buffer, size_t length, off_t at) {
            if (!scripted("pwrite"))
                return real.pwrite(fd, buffer, length, at);
            if (setup.endsWith("short"))
                return real.pwrite(fd, buffer, 1, at);
            return setup.endsWith("nothing") ? 0 : fail();
        };
        QStringList steps; // each commit step, and what the name shows then
        cutter.onCommitStep = [&](CommitStep step) { steps << QString::number(int(step)) + contentOf(target).left(3); };
        const QByteArrayList sources{setup == "source folder" ? dir.path : source};
        const Replace mayReplace = replace ? Replace::Allowed : Replace::Never;
        CutResult result;
        QString outcome = outcomeOf([&] {
            result = cutter.cut({sources, target, clip.d, clip.start, clip.end, mayReplace});
        });
        outcome.replace(QFile::decodeName(dir.path) + "/", "");
        QVERIFY2(outcome.contains(reason) && outcome.isEmpty() == reason.isEmpty(), qPrintable(outcome));
        QCOMPARE(contentOf(target), reason.isEmpty() ? bytes : kept);
        QCOMPARE(listing(dir.path), names);
        if (setup == "link") // the link stays, and leads to the clip
            QCOMPARE(contentOf(dir / "real.vob"), bytes);
        QVERIFY2(setup != "cancel" || progress.last < progress.maximum / 2, qPrintable(QString::number(progress.last)));
        if (!reason.isEmpty())
            return;
        QCOMPARE(QList<I64>({result.offset, result.length, progress.maximum, progress.last, progress.highest}),
                 QList<I64>({clip.offset, clip.length, clip.maximum, clip.final, clip.final}));
        QCOMPARE(steps, QStringList({"0" + kept.left(3), "1" + bytes.left(3), "2" + bytes.left(3)}));
    }

    void writeback_data()
    {
        QTest::addColumn<double>("speed"); // the disk's, bytes per second; the copy runs at 2 GB/s
        QTest::addColumn<double>("slice"); // how often it tells what it wrote, seconds
        QTest::newRow("4 MB/s, throttled") << 4e6 << 0.1;
        QTest::newRow("500 MB/s") << 500e6 << 0.001;
        QTest::newRow("10 GB/s") << 10e9 << 0.0001;
    }

    void writeback() // once the speed is known, never more to flush than the disk writes in 300 ms; the disk kept busy
    {
        QFETCH(double, speed);
        QFETCH(double, slice);
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
        QTest::newRow("controls, C1, direction")
            << QByteArray("a\nb\x7f\xc2\x85\xe2\x80\xae") << "\"a\\x0Ab\\x7F\\xC2\\x85\\xE2\\x80\\xAE\"";
        QTest::newRow("backslash, quote") << QByteArray("a\\\"b") << "\"a\\\\\"b\"";
    }

    void names() // as messages show them
    {
        QFETCH(QByteArray, name);
        QTEST(QString::fromStdString(quotedName(name)), "shown");
    }

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
        QFETCH(QString, name);
        QFETCH(bool, held);
        const QString outcome = outcomeOf([&] { QCOMPARE(exactFileName(name), QFile::encodeName(name)); });
        QVERIFY2(held ? outcome.isEmpty() : outcome.contains("cannot stand for one file exactly"), qPrintable(outcome));
    }

    void readOut_data()
    {
        QTest::addColumn<double>("seconds"); // from the player, rounded to whole seconds with ties to even
        QTest::addColumn<QString>("text");   // " h : m : s"; "overflow": RoundSeconds throws std::overflow_error
        QTest::newRow("1 h 2 min 5 s") << 3725.0 << " 1 : 2 : 5";
        QTest::newRow("the most") << double(INT32_MAX) << " 596523 : 14 : 7";
        QTest::newRow("negative") << -5.0 << " 0 : 0 :-5";
        QTest::newRow("a tie, down to even") << 2.5 << " 0 : 0 : 2";
        QTest::newRow("a tie, up to even") << 99.5 << " 0 : 1 : 40";
        QTest::newRow("not a number") << qQNaN() << "overflow";
        QTest::newRow("too large") << 3e9 << "overflow";
    }

    void readOut()
    {
        QFETCH(double, seconds);
        QString text = "overflow";
        try {
            text = FormatHms(RoundSeconds(seconds));
        } catch (const std::overflow_error &) {
        }
        QTEST(text, "text");
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
