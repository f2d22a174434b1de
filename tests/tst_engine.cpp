#include "files/engine/ClipCutter.h"
#include "files/engine/FileName.h"
#include "files/engine/Writeback.h"
#include "state/TimeText.h"
#include "support/Cut.h"

#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;
using I64 = std::int64_t;

struct Clip { // then what the byte rule gives
    I64 size;
    int d, start, end;
    I64 offset = 0, length = 0, maximum = 0, final = 0;
};
struct Row {
    Clip clip;
    QString setup = {};  // before or during the cut
    QString reason = {}; // empty: written
    Replace replace = Replace::Allowed;
    QByteArray name = "c.vob";
    bool kernel = true; // copy_file_range, else buffer
    QString call = {};  // 20 calls fail with -result, or move result bytes
    int result = 0;
};
Q_DECLARE_METATYPE(Row)

struct Progress : ProgressSink {
    I64 maximum = -1, last = -1, highest = -1;
    void setMaximum(I64 value) override { maximum = value; }
    void setValue(I64 value) override
    {
        last = value;
        highest = std::max(highest, value);
    }
};

// Fixed speed, scripted clock; reports per slice.
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
    void cut_data();
    // The clip, named once on disk; or the folder untouched.
    void cut();
    // Once the speed is known: at most 300 ms to flush, disk kept busy.
    void writeback();
    // Messages escape backslash, quote, controls, C1, direction marks and bad UTF-8.
    void names();
    void timeText();      // whole seconds, ties to even; past 32 bits refused
    void readableFiles(); // only regular files: a pipe would block
    void exactNames();    // a text name is one file only if wholly text
};

void EngineTest::cut_data()
{
    QTest::addColumn<Row>("row");
    const auto row = [](const char *tag, const Row &r) { QTest::newRow(tag) << r; };
    // R = size / D, S = R x start, E = R x end: (E - S) / 4096 + 1 blocks of 4097 bytes, 4096 apart, from byte
    // S - 1 (0 for S = 0), none past the end; progress to E - S + 4097.
    row("from 0", {{409'600, 100, 0, 1, 0, 8'193, 8'193, 8'192}, "old file"});
    row("7 bytes over 3 s, 3 to 4: the last 2",
        {.clip = {7, 3, 3, 4, 5, 2, 4'099, 4'096}, .setup = "old file", .kernel = false});
    row("start a byte past the end", {{7, 3, 4, 5}, "", "at or beyond the end"});
    row("D = 0", {{4'000, 0, 1, 7}, "", "The duration is 0 seconds, so the source has no byte rate."});
    row("R = 0", {{4'000, 5'000, 1, 7}, "", "fewer bytes (4000) than its duration has seconds (5000)"});
    row("marks out of order", {{4'000, 5, 3, 3}, "", "The start mark must come before the end mark."});
    row("negative mark", {{4'000, 5, -1, 3}, "", "The marks cannot be negative."});
    const auto target = [&](const char *setup, const QString &why = "", Replace replace = Replace::Allowed,
                            const QByteArray &name = "c.vob") { // 8 MiB over 8 s, 1 to 7
        row(setup, {{8 << 20, 8, 1, 7, 1'048'575, 6'295'553, 6'295'553, 6'295'552}, setup, why, replace, name});
    };
    const QString inUse = "in use: Cannot overwrite file in use: \"c.vob\" is the source file";
    const QString refused = "The target \"c.vob\" is %1; a clip can only replace a file.";
    target("hard link to the source", inUse);
    target("twin of the source", inUse);
    target("near twin, the first byte differs");
    target("cancel", "cancelled: The cut was cancelled.");
    target("new, not UTF-8", "", Replace::Never, "c\xff\xfe.vob");
    target("appears", "taken: \"c.vob\" appeared while the clip was being written; that file was kept.",
           Replace::Never);
    target("old file", "taken: \"c.vob\" already exists.", Replace::Never);
    target("directory", refused.arg("a directory"));
    target("FIFO", refused.arg("a named pipe (FIFO)"));
    target("link to nothing", refused.arg("a symbolic link that leads nowhere"));
    target("link to a file");
    target("source is a folder", "The source \"s.vob\" is not a regular file.");
    target("shrinks", "The source file got shorter while it was being read.");
    // A sparse source's last second past 4 GiB; failing or short calls retried, buffered, or stopped.
    const Clip tail{(5LL << 30) + 4'321, 5'000, 4'999, 5'000, 5'367'636'257, 1'077'184};
    const auto calls = [&](const char *tag, bool kernel, const char *call, int result, const QString &why = "") {
        row(tag, {.clip = tail, .reason = why, .kernel = kernel, .call = call, .result = result});
    };
    const QString full = "Writing the clip failed: No space left on device.";
    calls("read interrupted", false, "pread", -EINTR);
    calls("write interrupted", false, "pwrite", -EINTR);
    calls("writes a byte at a time", false, "pwrite", 1);
    calls("disk takes nothing", false, "pwrite", 0, full);
    calls("kernel copy interrupted", true, "copy", -EINTR);
    calls("kernel copy, 1000 bytes a time", true, "copy", 1000);
    calls("kernel copy unsupported", true, "copy", -EXDEV);
    calls("disk full", true, "copy", -ENOSPC, full);
}

void EngineTest::cut()
{
    QFETCH(Row, row);
    const auto &[clip, setup, reason, replace, name, kernel, call, result] = row;
    Folder dir;
    const QByteArray target = dir / name;
    const QByteArray source = dir / "s.vob";
    const I64 from = clip.size >> 30 ? clip.offset : 0; // a hole up to there
    const QByteArray all = randomBytes(clip.size - from, clip.size);
    const QByteArray bytes = all.mid(clip.offset - from, clip.length);
    QVERIFY(writeFile(source, all, clip.size, from));
    const std::map<QString, std::function<bool()>> make{
        {"old file", [&] { return writeFile(target, "old"); }},
        {"twin of the source", [&] { return writeFile(target, all); }},
        {"near twin, the first byte differs", [&] { return writeFile(target, "x" + all.mid(1)); }},
        {"hard link to the source", [&] { return !::link(source, target); }},
        {"directory", [&] { return !::mkdir(target, 0755); }},
        {"FIFO", [&] { return !::mkfifo(target, 0644); }},
        {"link to nothing", [&] { return !::symlink("nowhere", target); }},
        {"link to a file", [&] { return writeFile(dir / "real.vob", "old") && !::symlink("real.vob", target); }},
        {"source is a folder", [&] { return !::unlink(source) && !::mkdir(source, 0755); }},
    };
    QVERIFY(!make.count(setup) || make.at(setup)());
    const timespec when[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}}; // the twins', to the ns
    if (setup.contains("twin"))
        QVERIFY(!::utimensat(AT_FDCWD, source, when, 0) && !::utimensat(AT_FDCWD, target, when, 0));
    const QByteArray kept = setup == "appears" ? "precious" : contentOf(target);
    QByteArrayList names = listing(dir.path);
    if (!names.contains(name) && (reason.isEmpty() || setup == "appears"))
        names.prepend(name); // sorts before s.vob

    Progress progress;
    ClipCutter cutter(progress, [&] {
        if (setup == "cancel")
            cutter.cancel();
    });
    cutter.useKernelCopy = kernel;
    int scripted = 0;
    const auto script = [&](const char *kind, size_t &length) { // false: the call fails
        if (call != kind || scripted++ >= 20)
            return true;
        length = size_t(std::max(result, 0));
        errno = result < 0 ? -result : 0;
        return result >= 0;
    };
    const CopyCalls real = CopyCalls::system();
    cutter.copyCalls.copyFileRange = [&](int in, loff_t *inAt, int out, loff_t *outAt, size_t length) {
        return script("copy", length) ? real.copyFileRange(in, inAt, out, outAt, length) : -1;
    };
    cutter.copyCalls.pread = [&](int fd, void *buffer, size_t length, off_t at) {
        return script("pread", length) ? real.pread(fd, buffer, length, at) : -1;
    };
    cutter.copyCalls.pwrite = [&](int fd, const void *buffer, size_t length, off_t at) {
        return script("pwrite", length) ? real.pwrite(fd, buffer, length, at) : -1;
    };
    cutter.beforeWrite = [&](I64 at) {
        if (at == 0 && setup == "appears")
            writeFile(target, "precious");
        if (at > 0 && setup == "shrinks")
            ::truncate(source, 4 << 20);
        if (setup == "cancel")
            QThread::msleep(4); // slow pieces: cancelled early
    };
    QStringList steps; // each commit step, and the name then
    cutter.onCommitStep = [&](CommitStep step) { steps << QString::number(int(step)) + contentOf(target).left(3); };
    CutResult got;
    QString outcome = outcomeOf([&] { got = cutter.cut({{source}, target, clip.d, clip.start, clip.end, replace}); });
    outcome.replace(QFile::decodeName(dir.path) + "/", "");
    QVERIFY2(says(outcome, reason), qPrintable(outcome));
    QVERIFY2(call.isEmpty() || scripted > 0, "the scripted calls never happened");
    QCOMPARE(contentOf(target), reason.isEmpty() ? bytes : kept);
    QCOMPARE(listing(dir.path), names);
    if (setup == "link to a file") // the link stays, to the clip
        QCOMPARE(contentOf(dir / "real.vob"), bytes);
    QVERIFY2(setup != "cancel" || progress.last < progress.maximum / 2, qPrintable(QString::number(progress.last)));
    if (!reason.isEmpty())
        return;
    QCOMPARE((QList<I64>{got.offset, got.length}), (QList<I64>{clip.offset, clip.length}));
    if (clip.maximum)
        QCOMPARE((QList<I64>{progress.maximum, progress.last, progress.highest}),
                 (QList<I64>{clip.maximum, clip.final, clip.final}));
    QCOMPARE(steps, QStringList({"0" + kept.left(3), "1" + bytes.left(3), "2" + bytes.left(3)}));
}

void EngineTest::writeback()
{
    for (auto [speed, slice] : {std::pair{4e6, 0.1}, {10e9, 0.0001}}) { // throttled; fast
        ScriptedDisk disk(speed, slice);
        Writeback writeback(disk);
        const double total = std::min(speed * 5, 1e9);
        const double ideal = total / std::min(speed, 2e9);
        double backlog = 0; // s a cancel or flush waits
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
        QCOMPARE_LE(backlog, 0.3);
        QCOMPARE_LE(took, 1.1 * ideal + 10 * slice);
    }
}

void EngineTest::names()
{
    const char *rows[][2] = {
        {"Öl 日本\\\".vob", "\"Öl 日本\\\\\".vob\""},
        {"c\xff\xc3.\xc0\xaf\xe0\x83\x96\xed\xa0\x80", "\"c\\xFF\\xC3.\\xC0\\xAF\\xE0\\x83\\x96\\xED\\xA0\\x80\""},
        {"a\nb\x7f\xc2\x85\xe2\x80\xae", "\"a\\x0Ab\\x7F\\xC2\\x85\\xE2\\x80\\xAE\""}};
    for (auto [name, shown] : rows)
        QCOMPARE(QString::fromStdString(quotedName(name)), QString(shown));
}

void EngineTest::timeText()
{
    const std::pair<double, QString> rows[] = {{3725, " 1 : 2 : 5"}, {INT32_MAX, " 596523 : 14 : 7"},
                                               {-5, " 0 : 0 :-5"},   {2.5, " 0 : 0 : 2"},
                                               {qQNaN(), "refused"}, {3e9, "refused"}};
    for (const auto &[seconds, text] : rows) {
        QString shown;
        const QString why = outcomeOf([&] { shown = FormatHms(RoundSeconds(seconds)); });
        QCOMPARE(why.isEmpty() ? shown : "refused", text);
    }
}

void EngineTest::readableFiles()
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

void EngineTest::exactNames()
{
    for (auto [name, held] : {std::pair{QString("/tmp/Öl.vob"), true},
                              {QString("/tmp/c\uFFFD.vob"), false},
                              {QString("/tmp/c") + QChar(0xD800), false},
                              {QString("/tmp/a") + QChar(0) + "b", false},
                              {QString(), false}}) {
        const QString outcome = outcomeOf([&] { QCOMPARE(exactFileName(name), QFile::encodeName(name)); });
        QVERIFY2(says(outcome, held ? "" : "cannot stand for one file exactly"), qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
