// morvane-cut and the window with the real player, against bad input and faults: one clear message, nothing lost.

#include "app/ui/Form1.h"
#include "files/engine/ClipCutter.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/WindowFixture.h"

#include <QtTest>
#include <chrono>
#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace morvane;
constexpr qint64 MiB = 1 << 20, GiB = MiB << 10;

static QByteArray noise(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(size).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

static QByteArray bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "(none)";
}

// Anyone may replace the file. Up to size, what is not data is a hole that costs no disk.
static bool writeFile(const QString &path, const QByteArray &data, qint64 size = 0, qint64 offset = 0)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size) && file.seek(offset) && file.write(data) == data.size()
           && file.setPermissions(QFileDevice::Permissions(0x6666));
}

static bool setMode(const QString &path, mode_t mode) { return ::chmod(QFile::encodeName(path), mode) == 0; }

static bool echoTo(const QString &path, const QByteArray &text) // sysfs takes one write, no resizing
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(text) == text.size();
}

static QString entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).join(' ');
}

// Runs a command; the empty string when it worked, else what it said.
static QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (p.waitForFinished(60'000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return "";
    return program + ": "
           + (p.error() == QProcess::FailedToStart ? "not installed (scripts/install-deps)" : p.readAllStandardError());
}

// A mount at `at`, undone when it goes; failure says why there is none.
struct Mount {
    QString at, failure = "none";
    ~Mount()
    {
        if (failure.isEmpty())
            ::umount2(QFile::encodeName(at), MNT_DETACH);
    }
    bool make(const QString &type, const QString &from) // bindfs: a view of the folder from; ntfs, ext4: an image
    {
        const bool ntfs = type == "ntfs";
        if (type == "bindfs")
            failure = run("bindfs", {from, at});
        else if (type == "tmpfs")
            failure = ::mount("tmpfs", QFile::encodeName(at), "tmpfs", 0, "size=512k") ? std::strerror(errno) : "";
        else if (!writeFile(from, "", 256 * MiB))
            failure = "cannot make " + from;
        else if ((failure = run(ntfs ? "mkntfs" : "mkfs.ext4", {ntfs ? "-FQq" : "-qF", from})).isEmpty())
            failure = ntfs ? run("ntfs-3g", {from, at}) : run("mount", {"-o", "loop", from, at});
        return failure.isEmpty();
    }
};

class ReliabilityTest : public QObject {
    Q_OBJECT
private slots:
    void cut_data()
    {
        QTest::addColumn<QString>("setup");   // what is wrong, on what, and what happens midway; old: --force
        QTest::addColumn<int>("exitCode");    // -1: killed
        QTest::addColumn<QString>("message"); // all it says; {s}: the source, {t}: the target
        QTest::addColumn<QString>("left");    // a regular expression for the folder's names after, s, t: theirs
        QString inUse = "Cannot overwrite file in use: \"{t}\" is the source file, or cannot be told apart from it.";
        QTest::newRow("source is a folder") << "directory" << 1 << "The source \"{s}\" is not a regular file."
                                            << "s";
        QTest::newRow("source unreadable")
            << "unreadable old" << 1 << "The source file \"{s}\" cannot be opened: Permission denied."
            << "t s";
        QTest::newRow("folder not writable")
            << "locked old" << 1 << "The clip cannot be created as \"{t}\": Permission denied."
            << "t s";
        QTest::newRow("quotes and non-ASCII in the names") << "" << 0 << ""
                                                           << "t s";
        QTest::newRow("past 4 GiB of a sparse source") << "sparse old" << 0 << ""
                                                       << "t s";
        QTest::newRow("SIGKILL, old target") << "long old SIGKILL" << -1 << ""
                                             << "t s";
        QTest::newRow("SIGKILL, new target") << "long SIGKILL" << -1 << ""
                                             << "s";
        QTest::newRow("SIGINT") << "long SIGINT" << 130 << "interrupted; no clip was written."
                                << "s";
        QTest::newRow("onto a device") << "device" << 2
                                       << "The target \"{t}\" is a device; a clip can only replace a file."
                                       << "t s";
        QTest::newRow("FUSE: the source seen through a view") << "bindfs source-seen" << 2 << inUse << "s";
        QTest::newRow("FUSE: the target seen through a view") << "bindfs target-seen" << 2 << inUse << "s";
        QTest::newRow("NTFS: new") << "ntfs" << 0 << ""
                                   << "t s";
        QTest::newRow("NTFS: replaced") << "ntfs old" << 0 << ""
                                        << "t s";
        QTest::newRow("NTFS: SIGKILL") << "ntfs SIGKILL" << -1 << ""
                                       << "\\.t\\.morvane-partial-\\w{6} s";
    }

    void cut() // 24 MiB of noise over 24 s, 1 to 23 cut: the 1-based bytes from 1 MiB, 22 MiB + 4097 of them
    {
        QFETCH(QString, setup);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(QString, left);
        const auto has = [&](const char *word) { return setup.split(' ').contains(word); };
        QTemporaryDir dir;
        const QString real = dir.filePath("real"), view = dir.filePath("view"), s = "it's \"Ärger\".vob";
        const QString t = has("bindfs") ? s : "a 'clip' „Öl“ 日本";
        QVERIFY(QDir().mkdir(real) && QDir().mkdir(view) && setMode(dir.path(), 0755));
        Mount mount{has("bindfs") ? view : real};
        if ((has("bindfs") || has("ntfs")) && !mount.make(setup.section(' ', 0, 0), has("ntfs") ? real + ".img" : real))
            QSKIP(qPrintable("cannot mount: " + mount.failure));
        // sparse: 1 MiB a second again, the noise 4999 MiB in; long: 4 GiB of holes to copy take seconds
        const bool sparse = has("sparse"), longCut = has("long");
        const int base = sparse ? 4999 : 0;
        const QByteArray media = noise(24 * MiB);
        QVERIFY(has("directory") ? QDir().mkdir(real + "/" + s)
                                 : writeFile(real + "/" + s, media, sparse || longCut ? 5 * GiB : 0, base * MiB));
        QVERIFY(!has("old") || writeFile(real + "/" + t, "old"));
        if (has("device") && ::mknod(QFile::encodeName(real + "/" + t), S_IFCHR | 0666, makedev(1, 3)) != 0)
            QSKIP(qPrintable(QString("cannot make a device node: ") + std::strerror(errno)));
        const QString src = (has("source-seen") ? view : real) + "/" + s;
        const QString target = (has("target-seen") ? view : real) + "/" + t;
        const bool nobody = has("unreadable") || has("locked"); // as root, who may read and write all
        QVERIFY(!nobody || (setMode(real, has("locked") ? 0555 : 0777) && (!has("unreadable") || setMode(src, 0))));
        const QByteArray sourceBefore = sparse || longCut ? "" : bytes(src), targetBefore = bytes(target);

        QStringList args = QString("--duration %1 --start %2 --end %3")
                               .arg(sparse    ? 5120
                                    : longCut ? 10
                                              : 24)
                               .arg(base + 1)
                               .arg(longCut ? 9 : base + 23)
                               .split(' ')
                           << src << target;
        if (has("old") || has("device"))
            args.prepend("--force");
        if (nobody && ::geteuid() == 0)
            args = QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", MORVANE_CUT_PATH} + args;
        QProcess cut;
        cut.start(args.size() > 10 ? "setpriv" : MORVANE_CUT_PATH, args);
        QVERIFY(cut.waitForStarted());
        if (has("SIGKILL") || has("SIGINT")) { // once a partial file shows, or after about 200 ms
            for (int i = 0; i < 1000 && !entries(real).contains("partial"); ++i)
                QThread::usleep(200);
            QVERIFY(cut.state() == QProcess::Running && ::kill(cut.processId(), has("SIGINT") ? SIGINT : SIGKILL) == 0);
        }
        QVERIFY(cut.waitForFinished(30'000));
        QCOMPARE(cut.exitStatus() == QProcess::CrashExit ? -1 : cut.exitCode(), exitCode);
        QCOMPARE(QString::fromUtf8(cut.readAllStandardError()),
                 message.isEmpty() ? "" : "morvane-cut: " + message.replace("{s}", src).replace("{t}", target) + "\n");
        const QString names = entries(real).replace(s, "s").replace(t, "t");
        QVERIFY2(QRegularExpression("^" + left + "$").match(names).hasMatch(), qPrintable(names));
        if (!sourceBefore.isEmpty())
            QCOMPARE(bytes(src), sourceBefore);
        QCOMPARE(bytes(target), exitCode ? targetBefore : media.mid(MiB - 1, 22 * MiB + 4097));
    }

    void window_data()
    {
        QTest::addColumn<QString>("setup");   // what is wrong, or what happens midway
        QTest::addColumn<QString>("message"); // how the one message starts; {s}: source, {t}: target
        const QString no = "The clip was not saved.\n";
        QTest::newRow("empty file") << "empty.vob"
                                    << "Cannot play \"{s}\".\n";
        QTest::newRow("random bytes") << "random.bin"
                                      << "Cannot play \"{s}\".\n";
        QTest::newRow("source deleted after Open")
            << "delete" << no + "The source file \"{s}\" cannot be opened: No such file or directory.";
        QTest::newRow("source emptied after Open")
            << "truncate" << no + "The source has fewer bytes (0) than its duration has seconds (10)";
        QTest::newRow("full file system") << "full" << no + "Writing the clip failed: No space left on device.";
        QTest::newRow("source as target through a link") << "link"
                                                         << "Cannot overwrite file in use...";
        QTest::newRow("source as target through a FUSE view") << "bindfs"
                                                              << "Cannot overwrite file in use...";
        QTest::newRow("a name that may stand for bytes that are not text")
            << "inexact new" << no + "The name \"{t}\" cannot stand for one file exactly";
        QTest::newRow("a file appears at the new name during the save")
            << "appears new" << no + "\"{t}\" appeared while the clip was being written; that file was kept.";
        QTest::newRow("closed during a save") << "close"
                                              << "";
    }

    void window()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QTemporaryDir dir, viewDir;
        const QString src = dir.filePath("it's \"Ärger\".vob"), out = dir.filePath("out");
        const QString clipName = setup.startsWith("inexact") ? "/clip\uFFFD.vob" : "/a 'clip' „Öl“ 日本";
        const QString target = setup == "bindfs" ? viewDir.filePath(QFileInfo(src).fileName()) : out + clipName;
        const QString media = MORVANE_TEST_MEDIA "/" + (setup.contains('.') ? setup : "dvd.vob");
        QVERIFY(QDir().mkdir(out) && writeFile(src, bytes(media)));
        Mount view{viewDir.path()}, full{out};
        if ((setup == "bindfs" && !view.make("bindfs", dir.path())) || (setup == "full" && !full.make("tmpfs", "")))
            QSKIP(qPrintable("cannot mount: " + view.failure + ", " + full.failure));
        QVERIFY(setup == "link" ? QFile::link(src, target)
                                : setup == "bindfs" || setup.endsWith("new") || writeFile(target, "old"));
        const QByteArray sourceBefore = bytes(src), targetBefore = bytes(target);
        const QString entriesBefore = entries(out);

        test::WindowFixture w(std::make_unique<QtMediaPlayer>()); // no video output: headless
        w.dialogs.openAnswers << src;
        w.click(w.form->Command4);
        if (w.form->state.fileOpen()) {
            // close: grown to 5 GiB of holes once the player measured it, a save long enough to catch midway
            const qint64 size = setup == "close" ? 5 * GiB : setup == "truncate" ? 0 : QFileInfo(src).size();
            QVERIFY(setup == "delete" ? QFile::remove(src) : QFile::resize(src, size));
            connect(w.form->pb, &QProgressBar::valueChanged, w.form.get(), [&](int value) { // before the naming
                if (value > 0 && setup == "close")
                    w.form->close();
                if (value > 0 && setup.startsWith("appears") && !QFileInfo::exists(target))
                    writeFile(target, "precious");
            });
            w.form->state.StartSecond = 1, w.form->state.EndSecond = 9;
            w.dialogs.saveAnswers << target;
            w.dialogs.yesNoAnswers << true; // replace the older clip
            w.click(w.form->Command7);
        }
        QCOMPARE(w.form->isVisible(), setup != "close");
        const QString said = w.dialogs.messages.join('|');
        QVERIFY2(message.isEmpty() ? said.isEmpty()
                                   : w.dialogs.messages.size() == 1
                                         && said.startsWith(message.replace("{s}", src).replace("{t}", target)),
                 qPrintable(said));
        QCOMPARE(entries(out), setup.startsWith("appears") ? QFileInfo(target).fileName() : entriesBefore);
        if (setup != "delete" && setup != "truncate" && setup != "close")
            QCOMPARE(bytes(src), sourceBefore);
        QCOMPARE(bytes(target), setup.startsWith("appears") ? "precious" : targetBefore);
    }

    void terminalBar() // drawn on a terminal; the quiet cuts above show it is not drawn on a pipe
    {
        QTemporaryDir dir;
        QProcess tty;
        tty.setWorkingDirectory(dir.path());
        QVERIFY(writeFile(dir.filePath("s.vob"), noise(8 * MiB)));
        tty.start("script", {"-qec", MORVANE_CUT_PATH " --duration 8 --start 1 --end 7 s.vob c.vob", "/dev/null"});
        QVERIFY2(tty.waitForFinished(30'000) && tty.exitCode() == 0, tty.readAllStandardError());
        const QByteArray drawn = tty.readAllStandardOutput();
        QVERIFY2(drawn.startsWith("\r[") && drawn.endsWith("\r[" + QByteArray(40, '#') + "] 100%\r\n"), drawn);
    }

    // An ext4 on a loop device, its writes throttled to 8 MB/s: the engine lets events run every 50 ms, also over
    // the final flush, and a cancel or a Ctrl-C stops a cut within 1 s.
    void slowDisk()
    {
        QTemporaryDir dir;
        const QString at = dir.filePath("slow"), group = "/sys/fs/cgroup/blkio/morvane-" + QString::number(::getpid());
        const QString source = dir.filePath("s.vob"), target = at + "/c.vob";
        struct stat device {};
        Mount mount{at};
        if (!QDir().mkdir(at) || !mount.make("ext4", dir.filePath("ext4.img")))
            QSKIP(qPrintable("cannot mount a loop device: " + mount.failure));
        QVERIFY(::stat(QFile::encodeName(at), &device) == 0);
        const auto join = [](QString to) { return echoTo(to + "/cgroup.procs", QByteArray::number(::getpid())); };
        const auto leave = qScopeGuard([&] { join("/sys/fs/cgroup/blkio"), QDir().rmdir(group); });
        const QString limit = QString("%1:%2 8000000").arg(major(device.st_dev)).arg(minor(device.st_dev));
        if (!QDir().mkdir(group) || !echoTo(group + "/blkio.throttle.write_bps_device", limit.toUtf8()))
            QSKIP("no cgroup v1 blkio throttle here (/sys/fs/cgroup/blkio): cannot make a slow disk");
        const QByteArray media = noise(64 * MiB), from = QFile::encodeName(source), to = QFile::encodeName(target);
        QVERIFY(writeFile(source, media) && join(group));
        using Clock = std::chrono::steady_clock;
        const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
        struct : ProgressSink {
            void setMaximum(std::int64_t) override {}
            void setValue(std::int64_t) override {}
        } progress;
        double gap = 0;
        Clock::time_point last, cancelled, cancelAt = Clock::time_point::max();
        ClipCutter cutter(progress, [&] {
            gap = std::max(gap, ms(Clock::now() - last)), last = Clock::now();
            if (last > cancelAt && cancelled == Clock::time_point())
                cutter.cancel(), cancelled = last;
        });
        last = Clock::now();
        cutter.cut({{from}, to, 64, 0, 4}); // 4 MiB: half a second, and the final flush
        gap = std::max(gap, ms(Clock::now() - last));
        QCOMPARE(bytes(target), media.left(4 * MiB + 4097));
        QVERIFY(QFile::remove(target));
        last = Clock::now(), cancelAt = last + std::chrono::milliseconds(1'500);
        QVERIFY_THROWS_EXCEPTION(CutCancelled, cutter.cut({{from}, to, 64, 0, 63}));
        const double stopped = ms(Clock::now() - cancelled);

        QProcess cut;
        cut.start(MORVANE_CUT_PATH, {"--duration", "64", "--start", "0", "--end", "63", source, target});
        QVERIFY(!cut.waitForFinished(1'500));
        const auto sent = Clock::now();
        QVERIFY(::kill(cut.processId(), SIGINT) == 0 && cut.waitForFinished(5'000) && cut.exitCode() == 130);
        const double interrupted = ms(Clock::now() - sent);
        qInfo("slow disk: longest gap between events %.1f ms; stopped %.1f ms after a cancel, %.1f ms after SIGINT",
              gap, stopped, interrupted);
        // A wait on the throttled disk takes seconds; the bounds leave room for a loaded machine, and the
        // bench prints the real gaps.
        QVERIFY2(gap <= 250 && stopped <= 1'000 && interrupted <= 1'000, "the times above");
        QCOMPARE(entries(at), "lost+found");
    }
};

QTEST_MAIN(ReliabilityTest)
#include "tst_reliability.moc"
