#include "files/engine/ClipCutter.h"
#include "files/engine/FileName.h"
#include "files/engine/Writeback.h"
#include "state/TimeText.h"

#include <QtTest>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace morvane;
using Names = QByteArrayList;
using I64 = std::int64_t;

struct Clip {
    I64 size;
    int d, start, end;
    bool kernel;
    I64 offset = 0, length = 0, maximum = 0, final = 0;
};
Q_DECLARE_METATYPE(Clip)

// N = (E - S) / 4096 + 1 blocks of 4097 bytes 4096 apart from 1-based byte S (or byte 0), none past the end.
static Clip model(I64 size, int d, int start, int end, bool kernel = true)
{
    const I64 r = size / d, s = r * start, e = r * end, n = (e - s) / 4096 + 1, at = s == 0 ? 0 : s - 1;
    return {size, d, start, end, kernel, at, std::min(4096 * n + 1, size - at), e - s + 4097, 4096 * n};
}

struct Progress : ProgressSink {
    I64 maximum = -1, last = -1, highest = -1;
    void setMaximum(I64 value) override { maximum = value; }
    void setValue(I64 value) override { last = value, highest = std::max(highest, value); }
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

// bytes at `at` in a file of `size` bytes (by default just the bytes), a hole elsewhere
static bool writeFile(const QByteArray &path, const QByteArray &bytes, I64 at = 0, I64 size = -1)
{
    std::ofstream out(path.constData(), std::ios::binary);
    return out.seekp(at).write(bytes, bytes.size()).flush() && !::truncate(path, size < 0 ? bytes.size() : size);
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
    ~Folder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path.constData(), ignored);
    }
};

// The error's class as a prefix, then its text; empty when the cut worked.
static QString outcomeOf(const std::function<void()> &cut)
{
    try {
        cut();
    } catch (const CutError &e) {
        return (dynamic_cast<const CutCancelled *>(&e)  ? "cancelled: "
                : dynamic_cast<const TargetInUse *>(&e) ? "in use: "
                : dynamic_cast<const TargetTaken *>(&e) ? "taken: "
                                                        : "")
               + QString::fromUtf8(e.what());
    }
    return "";
}

// Writes what it is given in order at a fixed speed on a scripted clock, and tells so in slices (a throttle's: 100 ms).
struct ScriptedDisk : Writeback::Disk {
    double speed, slice, clock = 0, writtenUpTo = 0, given = 0, busyFrom = 0, told = 0; // bytes/s, s
    ScriptedDisk(double bytesPerSecond, double sliceSeconds) : speed(bytesPerSecond), slice(sliceSeconds) {}
    void advance(double s)
    {
        writtenUpTo = std::min(given, writtenUpTo + std::max(0.0, clock + s - std::max(clock, busyFrom)) * speed);
        told = std::floor((clock + s) / slice) > std::floor(clock / slice) ? writtenUpTo : told;
        clock += s;
    }
    void startWriting(I64, I64 length) override { busyFrom = writtenUpTo >= given ? clock : busyFrom, given += length; }
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
        QTest::addColumn<Clip>("clip"); // size, D, start, end, kernel copy; offset, length, progress maximum, final
        QTest::addColumn<QByteArray>("name"); // the target's, in the folder
        QTest::addColumn<QString>("setup");   // what is at the name before the cut, or goes wrong while it runs
        QTest::addColumn<bool>("replace");    // Replace::Allowed
        QTest::addColumn<QString>("reason");  // none when the clip is written
        const auto row = [](const char *tag, Clip c, const char *setup = "file", const QString &why = "",
                            bool replace = true, const QByteArray &name = "c.vob") {
            QTest::newRow(tag) << c << name << QString(setup) << replace << why;
        };
        row("10 MB over 100 s, 1 to 10", {10'000'000, 100, 1, 10, true, 99'999, 901'121, 904'097, 901'120});
        row("E - S under 4096", {400'000, 100, 1, 2, true, 3'999, 4'097, 8'097, 4'096});
        row("start 0, E - S = 4096, buffered", {409'600, 100, 0, 1, false, 0, 8'193, 8'193, 8'192});
        row("end past the end, buffered",
            {10'000'000, 100, 90, 200, false, 8'999'999, 1'000'001, 11'004'097, 11'001'856});
        row("start at the last second: 2 bytes", {7, 3, 3, 4, true, 5, 2, 4'099, 4'096});
        row("start a byte past the end", {7, 3, 4, 5, true}, "file", "at or beyond the end");
        row("R = 0", {4'000, 5'000, 1, 7, true}, "file", "no byte rate");
        row("marks out of order", {4'000, 5, 3, 3, true}, "file", "The start mark must come before the end mark.");
        row("negative mark", {4'000, 5, -1, 3, true}, "file", "The marks cannot be negative.");
        row("sparse, beyond 4 GiB", model((5LL << 30) + 4'321, 5'000, 4'999, 5'000));
        row("sparse, buffered", model((5LL << 30) + 4'321, 5'000, 4'999, 5'000, false));
        QRandomGenerator random(20240611);
        for (int i = 0; i < 60; ++i) {
            const int size = random.bounded(1, 3'000'000), d = random.bounded(1, std::min(size, 400) + 1);
            const int start = random.bounded(d), end = start + random.bounded(1, d + 1);
            QTest::addRow("random %d: %d bytes, D %d, %d to %d", i, size, d, start, end)
                << model(size, d, start, end, i % 2) << QByteArray("c.vob") << "" << false << "";
        }
        const Clip big = model(8 << 20, 8, 1, 7), buffered = model(8 << 20, 8, 1, 7, false);
        const QString inUse = "in use: Cannot overwrite file in use: \"c.vob\"", notFile = "target \"c.vob\" is %1;",
                      noSpace = "Writing the clip failed: No space left on device.",
                      shorter = "The source file got shorter while it was being read.";
        row("source is a folder", big, "source folder", "not a regular file");
        row("missing target folder", big, "", "No such file", true, "nowhere/c.vob");
        row("hard link to the source", big, "hard link to source", inUse);
        row("twin of the source", big, "twin", inUse);
        row("same size and time, first byte differs", big, "near twin");
        row("write fails midway", big, "fails", "disk on fire");
        row("cancel midway", big, "cancel", "cancelled: The cut was cancelled.");
        row("new, not UTF-8", big, "", "", false, "c\xff\xfe.vob");
        row("appears midway", big, "appears",
            "taken: \"c.vob\" appeared while the clip was being written; that file was kept.", false);
        row("appears midway, replace", big, "appears");
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
        row("read interrupted", buffered, "pread EINTR");
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
        const QByteArray target = dir / name, sourcePath = dir / "s.vob";
        const I64 from = std::max<I64>(0, clip.offset - 4'096); // noise near the clip, else a hole
        QByteArray near(std::min(clip.size, clip.offset + clip.length + 4'096) - from, Qt::Uninitialized);
        QRandomGenerator(clip.size).fillRange(reinterpret_cast<quint32 *>(near.data()), near.size() / 4);
        const QByteArray bytes = near.mid(clip.offset - from, clip.length);
        QVERIFY(writeFile(sourcePath, near, from, clip.size));
        sockaddr_un address{AF_UNIX, {}};
        qstrncpy(address.sun_path, target, sizeof address.sun_path);
        const std::map<QString, std::function<bool()>> make{
            {"file", [&] { return writeFile(target, "old"); }},
            {"twin", [&] { return writeFile(target, QByteArray(from, 0) + near, 0, clip.size); }},
            {"near twin", [&] { return writeFile(target, "x" + QByteArray(from - 1, 0) + near, 0, clip.size); }},
            {"hard link to source", [&] { return !::link(sourcePath, target); }},
            {"directory", [&] { return !::mkdir(target, 0755); }},
            {"fifo", [&] { return !::mkfifo(target, 0644); }},
            {"device", [&] { return !::mknod(target, S_IFCHR | 0666, makedev(1, 3)); }},
            {"dangling", [&] { return !::symlink("nowhere", target); }},
            {"link", [&] { return writeFile(dir / "real.vob", "old") && !::symlink("real.vob", target); }},
            {"socket",
             [&] { return !::bind(::socket(AF_UNIX, SOCK_STREAM, 0), (sockaddr *)&address, sizeof address); }},
        };
        if (make.count(setup) && !make.at(setup)()) {
            if (setup == "device" && errno == EPERM)
                QSKIP("mknod needs root: no device node can be made here");
            QFAIL(std::strerror(errno));
        }
        struct stat status {};
        const timespec sameTime[2] = {{0, UTIME_OMIT}, (::stat(sourcePath, &status), status.st_mtim)}; // to the ns
        QVERIFY(!setup.contains("twin") || ::utimensat(AT_FDCWD, target, sameTime, 0) == 0);
        const QByteArray before = contentOf(target);
        const QByteArray kept = setup == "appears" ? "precious" : setup == "dir appears" ? "-" : before;
        Names names = listing(dir.path);
        if ((reason.isEmpty() || setup.endsWith("appears")) && !names.contains(name))
            names << name, std::sort(names.begin(), names.end());

        Progress progress;
        ClipCutter cutter(progress, [&] {
            if (setup == "cancel")
                cutter.cancel();
        });
        cutter.useKernelCopy = clip.kernel;
        int writes = 0, calls = 0;
        cutter.beforeWrite = [&](I64 at) {
            if (writes++ == 0 && setup.endsWith("appears"))
                setup == "appears" ? writeFile(target, "precious") : !::mkdir(target, 0755);
            if (at > 0 && setup == "fails")
                throw std::runtime_error("disk on fire");
            if (at > 0 && setup == "shrink")
                ::truncate(sourcePath, 4 << 20);
            if (setup == "cancel")
                QThread::msleep(4); // slow pieces: cancelled early
        };
        // The first 20 calls of the kind setup names fail with its errno, move less, or (pwrite nothing) nothing.
        const auto scripted = [&](const char *call) { return setup.startsWith(call) && calls++ < 20; };
        const int error = setup.endsWith("EINTR") ? EINTR : setup.endsWith("EXDEV") ? EXDEV : ENOSPC;
        const auto fail = [&] {
            errno = error;
            return ssize_t(-1);
        };
        const CopyCalls real = CopyCalls::system();
        cutter.copyCalls = {[&](int in, loff_t *inAt, int out, loff_t *outAt, size_t length) {
                                return !scripted("copy")         ? real.copyFileRange(in, inAt, out, outAt, length)
                                       : setup.endsWith("short") ? real.copyFileRange(in, inAt, out, outAt, 1000)
                                                                 : fail();
                            },
                            [&](int fd, void *buffer, size_t length, off_t at) {
                                return scripted("pread") ? fail() : real.pread(fd, buffer, length, at);
                            },
                            [&](int fd, const void *buffer, size_t length, off_t at) {
                                return !scripted("pwrite")         ? real.pwrite(fd, buffer, length, at)
                                       : setup.endsWith("short")   ? real.pwrite(fd, buffer, 1, at)
                                       : setup.endsWith("nothing") ? 0
                                                                   : fail();
                            }};
        QStringList steps; // each commit step, and what the name shows then
        cutter.onCommitStep = [&](CommitStep step) { steps << QString::number(int(step)) + contentOf(target).left(3); };
        CutResult result;
        const QString outcome = outcomeOf([&] {
                                    result = cutter.cut({{setup == "source folder" ? dir.path : sourcePath},
                                                         target,
                                                         clip.d,
                                                         clip.start,
                                                         clip.end,
                                                         replace ? Replace::Allowed : Replace::Never});
                                }).replace(QFile::decodeName(dir.path) + "/", "");
        QVERIFY2(outcome.contains(reason) && outcome.isEmpty() == reason.isEmpty(), qPrintable(outcome));
        QCOMPARE(contentOf(target), reason.isEmpty() ? bytes : kept);
        QCOMPARE(listing(dir.path), names);
        if (setup == "link") // the link stays, and leads to the clip
            QCOMPARE(contentOf(dir / "real.vob"), reason.isEmpty() ? bytes : "old");
        const bool midway = setup.contains(QRegularExpression("appears|fails|cancel|shrink|^pread|^pwrite|^copy"));
        QCOMPARE(writes > 0, reason.isEmpty() || midway); // else refused at once: not a byte copied
        QVERIFY2(!setup.contains(QRegularExpression("^p|^copy")) || calls > 0, "the scripted calls never happened");
        QVERIFY2(setup != "cancel" || progress.last < progress.maximum / 2, qPrintable(QString::number(progress.last)));
        if (reason.isEmpty()) {
            QCOMPARE(QList<I64>({result.offset, result.length, progress.maximum, progress.last, progress.highest}),
                     QList<I64>({clip.offset, clip.length, clip.maximum, clip.final, clip.final}));
            QCOMPARE(steps, QStringList({"0" + kept.left(3), "1" + bytes.left(3), "2" + bytes.left(3)}));
        }
    }

    void writeback_data()
    {
        QTest::addColumn<double>("speed"); // the disk's, bytes per second; the copy runs at 2 GB/s
        QTest::addColumn<double>("slice"); // how often it tells what it wrote, seconds
        QTest::newRow("4 MB/s, throttled") << 4e6 << 0.1;
        QTest::newRow("30 MB/s, USB stick") << 30e6 << 0.01;
        QTest::newRow("500 MB/s") << 500e6 << 0.001;
        QTest::newRow("10 GB/s") << 10e9 << 0.0001;
    }

    void writeback() // once the speed is known, never more to flush than the disk writes in 300 ms; the disk kept busy
    {
        QFETCH(double, speed);
        QFETCH(double, slice);
        ScriptedDisk disk(speed, slice);
        Writeback writeback(disk);
        const double total = std::min(speed * 5, 1e9), ideal = total / std::min(speed, 2e9);
        double backlog = 0; // what a cancel or the final flush waits for, seconds
        for (double copied = 0; copied < total;) {
            const I64 piece = std::min<I64>(writeback.budget() / 2, 1 << 20); // as the engine does
            if (writeback.pending() + piece <= writeback.budget())
                disk.advance(piece / 2e9), writeback.start(piece), copied += piece;
            else
                writeback.waitSome();
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

    void names()
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
        for (const auto &[seconds, text] : std::vector<std::pair<double, QString>>{{0, " 0 : 0 : 0"},
                                                                                   {3725, " 1 : 2 : 5"},
                                                                                   {36000, " 10 : 0 : 0"},
                                                                                   {INT32_MAX, " 596523 : 14 : 7"},
                                                                                   {-5, " 0 : 0 :-5"},
                                                                                   {2.5, " 0 : 0 : 2"},
                                                                                   {99.5, " 0 : 1 : 40"},
                                                                                   {qQNaN(), "overflow"},
                                                                                   {3e9, "overflow"}})
            QTest::addRow("%.1f", seconds) << seconds << text;
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

    void morvaneCut_data()
    {
        QTest::addColumn<QString>("command"); // bash, beside dvd.vob (9.97 s) and old.vob; $M is morvane-cut
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // all of stderr after "morvane-cut: "
        QTest::addColumn<Names>("files");     // also there; "clip:" marks the file then holding seconds 2 to 5 at D 10
        const auto row = [&](const char *tag, const QString &command, int exit, const QString &said, const Names &in) {
            QTest::newRow(tag) << "$M " + command << exit << said << in;
        };
        const QString cut = "--duration 10 --start 2 --end 5 dvd.vob ";
        row("--force over old", "--force --duration=10 --start=2 --end=5 dvd.vob old.vob", 0, "", {"clip:old.vob"});
        row("duration from the player", "--start 2 --end 5 dvd.vob new.vob", 0, "", {"clip:new.vob"});
        row("leading zeros", "--duration 0010 --start 02 --end 00000000005 dvd.vob n.vob", 0, "", {"clip:n.vob"});
        row("old without --force", cut + "old.vob", 2, "\"old.vob\" already exists; add --force to replace it.", {});
        row("option twice", "--duration 10 --start 3 --start=2 --end 5 dvd.vob n", 2, "\"--start\" is given twice.",
            {});
        row("start = end", "--duration 10 --start 5 --end 5 dvd.vob n", 2,
            "the start (5) must be less than the end (5).", {});
        row("negative", "--duration 10 --start -1 --end 5 dvd.vob n", 2, "--start cannot be negative.", {});
        row("too large", "--duration 10 --start 2 --end 2147483648 dvd.vob n", 2, "--end is too large.", {});
        row("no target", cut, 2, "expected SOURCE and TARGET, got 1 path(s).", {});
        row("D = 0", "--duration 0 --start 2 --end 5 dvd.vob n", 1,
            "The duration is 0 seconds, so the source has no byte rate.", {});
        row("directory, no --force", cut + "d", 2, "The target \"d\" is a directory; a clip can only replace a file.",
            {"d"});
        row("--force onto a name that text mangles", "--force " + cut + "$'c\\xfe.vob'", 0, "",
            {"c\xef\xbf\xbd.vob", "clip:c\xfe.vob"});
        row("source not UTF-8, a sibling's name as text", "--duration 10 --start 2 --end 5 $'s\\xff' n.vob", 1,
            "The source file \"s\\xFF\" cannot be opened: No such file or directory.", {"s\xef\xbf\xbd"});
        row("precise, a source named with an escape", "--precise --start 0 --end 5 $'o\\e[31mred' n.vob", 1,
            "\"o\\x1B[31mred\" is not an MPEG program stream, so it cannot be cut precisely.", {"o\x1b[31mred"});
        row("source not UTF-8, no duration", "--start 2 --end 5 $'s\\xfe' n.vob", 2,
            "cannot read the duration of "
            "\"s\\xFE\": the media player cannot open a name that is not text; give it with --duration.",
            {"s\xfe"});
        row("source is the target", "--force " + cut + "./dvd.vob", 2,
            "Cannot overwrite file in use: \"./dvd.vob\" is the source file, or cannot be told apart from it.", {});
    }

    void morvaneCut() // every file but the clip is unchanged, and nothing else is left
    {
        QFETCH(QString, command);
        QFETCH(QString, message);
        QFETCH(Names, files);
        Folder dir;
        const QByteArray dvd = contentOf(MORVANE_TEST_MEDIA "/dvd.vob");
        const Clip clip = model(dvd.size(), 10, 2, 5);
        QMap<QByteArray, QByteArray> expected;
        for (const QByteArray &file : Names{"dvd.vob", "old.vob"} + files) {
            const QByteArray name = file.mid(file.startsWith("clip:") ? 5 : 0);
            if (name == file)
                QVERIFY(file == "d" ? !::mkdir(dir / file, 0755) : writeFile(dir / file, file[0] == 'o' ? "old" : dvd));
            expected[name] = name == file ? contentOf(dir / file) : dvd.mid(clip.offset, clip.length);
        }
        QProcess cut;
        cut.setWorkingDirectory(QFile::decodeName(dir.path));
        cut.setEnvironment(QProcess::systemEnvironment() << "M=" MORVANE_CUT_PATH);
        cut.start("bash", {"-c", command});
        QVERIFY(cut.waitForFinished(60'000) && cut.exitStatus() == QProcess::NormalExit);
        QTEST(cut.exitCode(), "exitCode");
        QCOMPARE(QString(cut.readAllStandardError()), message.isEmpty() ? "" : "morvane-cut: " + message + "\n");
        for (auto [name, bytes] : expected.asKeyValueRange())
            QVERIFY2(contentOf(dir / name) == bytes, name.constData());
        QCOMPARE(listing(dir.path), expected.keys());
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
