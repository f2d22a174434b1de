// morvane-cut and the window with the real player, against bad input and faults: one clear message, nothing lost.

#include "app/ui/Form1.h"
#include "files/engine/ClipCutter.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/ScriptedDialogs.h"

#include <QtTest>
#include <chrono>
#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace morvane;
constexpr qint64 GiB = qint64(1) << 30;

static QByteArray noise(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(size).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

static QByteArray bytes(const QString &path, qint64 offset = 0, qint64 length = -1)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.seek(offset) ? file.read(length < 0 ? file.size() : length) : "";
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

static QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Runs a command; the empty string when it worked, else what it said.
static QString run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + ": "
               + (process.error() == QProcess::FailedToStart ? QString("not installed (scripts/install-deps)")
                                                             : process.readAllStandardError().trimmed());
    return "";
}

// A file system on a loop device, or a FUSE mount, undone when it goes.
struct Mount {
    QString at, failure, loop;
    ~Mount()
    {
        if (failure.isEmpty())
            ::umount2(QFile::encodeName(at), MNT_DETACH);
        if (!loop.isEmpty())
            run("losetup", {"-d", loop});
    }
    bool onImage(const QString &image, qint64 size, const QStringList &mkfs, const QString &type)
    {
        QProcess losetup;
        failure = !writeFile(image, "", size) ? "cannot make the image" : run(mkfs[0], mkfs.mid(1) << image);
        if (failure.isEmpty() && type != "ntfs-3g") {
            losetup.start("losetup", {"-f", "--show", image});
            const bool made = losetup.waitForFinished() && losetup.exitCode() == 0;
            loop = made ? QString(losetup.readAllStandardOutput()).trimmed() : "";
            failure = loop.isEmpty() ? "losetup: " + losetup.readAllStandardError() : run("mount", {loop, at});
        } else if (failure.isEmpty()) {
            failure = run("ntfs-3g", {image, at});
        }
        return failure.isEmpty();
    }
};

constexpr qint64 MiB = 1 << 20;

class ReliabilityTest : public QObject {
    Q_OBJECT
private slots:
    void faults_data()
    {
        QTest::addColumn<QString>("setup");   // what is wrong, or what happens midway
        QTest::addColumn<QString>("message"); // {s}: source, {t}: target; none: clip made, or killed, or closed
        QTest::newRow("cut: directory") << "directory" << "morvane-cut: The source \"{s}\" is not a regular file.";
        QTest::newRow("cut: no read permission")
            << "unreadable" << "morvane-cut: The source file \"{s}\" cannot be opened: Permission denied.";
        QTest::newRow("cut: folder without write permission")
            << "locked" << "morvane-cut: The clip cannot be created as \"{t}\": Permission denied";
        QTest::newRow("cut: spaces, quotes, non-ASCII in the names") << "" << "";
        QTest::newRow("cut: sparse source over 4 GiB") << "sparse" << "";
        QTest::newRow("cut: SIGKILL, existing target") << "killed" << "";
        QTest::newRow("cut: SIGKILL, new target") << "killed, new target" << "";
        QTest::newRow("window: empty file") << "empty.vob" << "Cannot play \"{s}\".\n";
        QTest::newRow("window: random bytes") << "random.bin" << "Cannot play \"{s}\".\n";
        const QString notSaved = "The clip was not saved.\n";
        QTest::newRow("window: source deleted after Open")
            << "delete" << notSaved + "The source file \"{s}\" cannot be opened: No such file or directory.";
        QTest::newRow("window: source emptied after Open")
            << "truncate" << notSaved + "The source has fewer bytes (0) than its duration has seconds (10)";
        QTest::newRow("window: full file system")
            << "full" << notSaved + "Writing the clip failed: No space left on device.";
        QTest::newRow("window: source as target through a link") << "link" << "Cannot overwrite file in use...";
        QTest::newRow("window: source as target through a FUSE view") << "fuse" << "Cannot overwrite file in use...";
        QTest::newRow("window: a name that may stand for bytes that are not text") << "inexact, new target"
            << notSaved + "The name \"{t}\" cannot stand for one file exactly";
        QTest::newRow("window: a file appears at the new name during the save") << "appears, new target"
            << notSaved + "\"{t}\" appeared while the clip was being written; that file was kept.";
        QTest::newRow("window: closed during a save") << "close" << "";
    }

    void faults()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        const bool window = QByteArray(QTest::currentDataTag()).startsWith("window");
        const bool killed = setup.startsWith("killed");
        const bool sparse = setup == "sparse", made = !window && !killed && message.isEmpty();
        const qint64 d = sparse ? 5000 : 10, start = sparse ? 4500 : 1, end = start + (sparse ? 1 : 8);
        QTemporaryDir dir;
        QTemporaryDir viewDir; // fuse: the folder seen through bindfs
        Mount view{viewDir.path(), setup == "fuse" ? run("bindfs", {dir.path(), viewDir.path()}) : "no mount", ""};
        if (setup == "fuse" && !view.failure.isEmpty())
            QSKIP(qPrintable("cannot mount a FUSE view: " + view.failure));
        const QString name = "it's \"Ärger\".vob", src = dir.filePath(name), out = dir.filePath("out");
        const QString target = setup == "fuse" ? viewDir.filePath(name)
                               : out + (setup.startsWith("inexact") ? "/clip\uFFFD.vob" : "/a 'clip' „Öl“ 日本");
        const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(out), MNT_DETACH); });
        QVERIFY(QDir().mkdir(out) && setMode(dir.path(), 0755) && setMode(out, 0777));

        // killed: 4 GiB of holes to copy take seconds; the clip is begun well within 200 ms
        const QByteArray media = bytes(MORVANE_TEST_MEDIA "/" + (setup.contains('.') ? setup : "dvd.vob"));
        const qint64 size = sparse || killed ? 5 * GiB : 0, at = sparse ? 5 * GiB / d * start - 65536 : 0;
        QVERIFY(setup == "directory" ? QDir().mkdir(src) : writeFile(src, media, size, at));
        if (setup == "full" && ::mount("tmpfs", QFile::encodeName(out), "tmpfs", 0, "size=512k") != 0)
            QSKIP(qPrintable("cannot mount a small tmpfs to fill: " + QString::fromLocal8Bit(std::strerror(errno))));
        QVERIFY(setup == "link" ? QFile::link(src, target)
                                : setup == "fuse" || setup.endsWith("new target") || writeFile(target, "old"));
        QVERIFY((setup != "unreadable" || setMode(src, 0)) && (setup != "locked" || setMode(out, 0555)));
        const QByteArray sourceBefore = QFileInfo(src).size() < GiB ? bytes(src) : "", targetBefore = bytes(target);
        const QStringList entriesBefore = QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);

        QStringList said;
        if (window) {
            QtMediaPlayer player; // no video output: headless
            test::ScriptedDialogs dialogs;
            test::ScriptedWebPanel web;
            Form1 form(player, dialogs, web);
            form.show();
            dialogs.openAnswers << src;
            QTest::mouseClick(form.Command4, Qt::LeftButton);
            if (form.state.fileOpen()) {
                // close: grown to 5 GiB of holes once the player measured it, a save long enough to catch midway
                const qint64 newSize = setup == "close" ? 5 * GiB : setup == "truncate" ? 0 : QFileInfo(src).size();
                QVERIFY(setup == "delete" ? QFile::remove(src) : QFile::resize(src, newSize));
                if (setup == "close")
                    connect(form.pb, &QProgressBar::valueChanged, &form, [&](int v) { if (v > 0) form.close(); });
                if (setup.startsWith("appears")) // before the clip is named: the first step sets the bar
                    connect(form.pb, &QProgressBar::valueChanged, &form, [&](int value) {
                        if (value > 0 && !QFileInfo::exists(target))
                            writeFile(target, "precious");
                    });
                form.state.StartSecond = start, form.state.EndSecond = end;
                dialogs.saveAnswers << target;
                dialogs.yesNoAnswers << true; // replace the older clip
                QTest::mouseClick(form.Command7, Qt::LeftButton);
            }
            QCOMPARE(form.isVisible(), setup != "close");
            said = dialogs.messages;
        } else {
            const QString options = QString("--force --duration %1 --start %2 --end %3").arg(d).arg(start).arg(end);
            const QStringList args = options.split(' ') << src << target;
            // root can read all
            const QStringList nobody{"--reuid=nobody", "--regid=nogroup", "--clear-groups", MORVANE_CUT_PATH};
            QProcess cut;
            cut.start(::geteuid() == 0 ? "setpriv" : MORVANE_CUT_PATH, ::geteuid() == 0 ? nobody + args : args);
            QVERIFY(!killed || (!cut.waitForFinished(200) && ::kill(cut.processId(), SIGKILL) == 0));
            QVERIFY(cut.waitForFinished(30'000));
            QCOMPARE(cut.exitStatus() == QProcess::CrashExit ? -1 : cut.exitCode(), killed ? -1 : made ? 0 : 1);
            said = QString::fromUtf8(cut.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        }

        const QString expected = QString(message).replace("{s}", src).replace("{t}", target);
        QVERIFY2(message.isEmpty() ? said.isEmpty() : said.size() == 1 && said[0].startsWith(expected),
                 qPrintable(said.join('|')));
        QStringList entriesAfter = entriesBefore;
        if (setup.startsWith("appears"))
            entriesAfter << QFileInfo(target).fileName();
        entriesAfter.sort();
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), entriesAfter);
        const bool sourceChanged = setup == "delete" || setup == "truncate" || setup == "close";
        QVERIFY(sourceBefore.isEmpty() || sourceChanged || bytes(src) == sourceBefore);
        const qint64 rate = QFileInfo(src).size() / d, length = (end - start) * rate; // made: the marked seconds
        const QByteArray clip = bytes(target);
        QVERIFY(made ? clip.size() >= length && bytes(src, start * rate - 8192, length + 16384).contains(clip)
                     : clip == (setup.startsWith("appears") ? "precious" : targetBefore));
    }

    void mounts_data()
    {
        QTest::addColumn<QString>("setup");   // the file system, and what is done
        QTest::addColumn<int>("exitCode");    // of morvane-cut; -1 killed
        QTest::addColumn<QString>("message"); // {v}: the FUSE view, {r}: the real folder
        QTest::addColumn<QString>("left");    // a regular expression for the target folder's names afterwards
        const QString apart = "is the source file, or cannot be told apart from it.\n";
        QTest::newRow("FUSE: view/s.vob onto real/s.vob") << "bindfs view real" << 2
            << "morvane-cut: Cannot overwrite file in use: \"{r}/s.vob\" " + apart << "s.vob";
        QTest::newRow("FUSE: real/s.vob onto view/s.vob") << "bindfs real view" << 2
            << "morvane-cut: Cannot overwrite file in use: \"{v}/s.vob\" " + apart << "s.vob";
        QTest::newRow("NTFS: new clip") << "ntfs new" << 0 << "" << "c.vob s.vob";
        // ntfs-3g itself leaves a stray name behind when a file with a 250-byte name is replaced
        QTest::newRow("NTFS: replaced") << "ntfs old" << 0 << "" << "c.vob s.vob";
        QTest::newRow("NTFS: SIGKILL leaves a partial file named for what it is") << "ntfs killed" << -1 << ""
            << "\\.k\\.vob\\.morvane-partial-\\w{6} s.vob";
        QTest::newRow("tmpfs: --force onto a device") << "tmpfs device" << 2
            << "morvane-cut: The target \"{r}/c.vob\" is a device; a clip can only replace a file.\n" << "c.vob s.vob";
    }

    void mounts() // the source and the target folder's names afterwards, on file systems that need root
    {
        QFETCH(QString, setup); QFETCH(int, exitCode); QFETCH(QString, message); QFETCH(QString, left);
        QTemporaryDir dir;
        const QString real = dir.filePath("real"), view = dir.filePath("view");
        QVERIFY(QDir().mkdir(real) && QDir().mkdir(view));
        Mount mount{setup.startsWith("bindfs") ? view : real, "", ""};
        if (setup.startsWith("bindfs"))
            mount.failure = run("bindfs", {real, view});
        else if (setup.startsWith("ntfs"))
            mount.onImage(dir.filePath("ntfs.img"), 128 * MiB, {"mkntfs", "-F", "-Q", "-q"}, "ntfs-3g");
        else if (::mount("tmpfs", QFile::encodeName(real), "tmpfs", 0, "size=64m") != 0)
            mount.failure = QString("tmpfs: ") + std::strerror(errno);
        if (!mount.failure.isEmpty())
            QSKIP(qPrintable("cannot mount: " + mount.failure));
        const QByteArray media = noise(24 * MiB);
        QVERIFY(writeFile(real + "/s.vob", media, media.size()));
        const QString name = setup.endsWith("killed") ? "k.vob" : "c.vob";
        QVERIFY(!setup.endsWith("old") || writeFile(real + "/" + name, "old", 3));
        QVERIFY(!setup.endsWith("device")
                || ::mknod(QFile::encodeName(real + "/" + name), S_IFCHR | 0666, makedev(1, 3)) == 0);
        const bool fuse = setup.startsWith("bindfs");
        const QString source = fuse ? dir.filePath(setup.section(' ', 1, 1)) + "/s.vob" : real + "/s.vob";
        const QString target = fuse ? dir.filePath(setup.section(' ', 2, 2)) + "/s.vob" : real + "/" + name;
        QProcess cut;
        cut.start(MORVANE_CUT_PATH, {"--force", "--duration", "24", "--start", "1", "--end", "23", source, target});
        QVERIFY(cut.waitForStarted());
        if (setup.endsWith("killed")) { // as soon as the partial file shows
            for (int i = 0; i < 5000 && !entries(real).join(' ').contains("partial") && cut.state(); ++i)
                QThread::usleep(200);
            QVERIFY(::kill(cut.processId(), SIGKILL) == 0);
        }
        QVERIFY(cut.waitForFinished(30'000));
        QCOMPARE(cut.exitStatus() == QProcess::CrashExit ? -1 : cut.exitCode(), exitCode);
        QCOMPARE(QString(cut.readAllStandardError()), QString(message).replace("{v}", view).replace("{r}", real));
        const QStringList names = entries(real);
        QVERIFY2(QRegularExpression("^" + left + "$").match(names.join(' ')).hasMatch(), qPrintable(names.join(' ')));
        QCOMPARE(bytes(real + "/s.vob"), media);
        if (exitCode == 0)
            QCOMPARE(bytes(real + "/" + name), media.mid(MiB - 1, 22 * MiB + 4097));
    }

    void interrupts_data()
    {
        QTest::addColumn<QString>("how"); // SIGINT, or the second of two cuts to one new name
        QTest::newRow("SIGINT: exit 130, nothing left") << "SIGINT";
        QTest::newRow("two cuts to one new name: one clip, one message") << "race";
    }

    void interrupts()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        const QByteArray media = noise(64 * MiB);
        QVERIFY(writeFile(dir.filePath("s.vob"), media, how == "SIGINT" ? 5 * GiB : media.size())); // 5 GiB: seconds
        QProcess first, second;
        const QStringList files{dir.filePath("s.vob"), dir.filePath("c.vob")};
        first.start(MORVANE_CUT_PATH, QStringList{"--duration", "64", "--start", "0", "--end", "63"} + files);
        if (how == "SIGINT") {
            QVERIFY(!first.waitForFinished(300) && ::kill(first.processId(), SIGINT) == 0);
            QVERIFY(first.waitForFinished(5'000));
            QCOMPARE(first.exitCode(), 130);
            QCOMPARE(QString(first.readAllStandardError()), "morvane-cut: interrupted; no clip was written.\n");
            QCOMPARE(entries(dir.path()), QStringList({"s.vob"}));
            return;
        }
        second.start(MORVANE_CUT_PATH, QStringList{"--duration", "64", "--start", "1", "--end", "64"} + files);
        QVERIFY(first.waitForFinished(30'000) && second.waitForFinished(30'000));
        const QList<QProcess *> cuts{&first, &second};
        const int won = first.exitCode() == 0 ? 0 : 1, lost = 1 - won;
        const QString said = cuts[lost]->readAllStandardError();
        QVERIFY2(cuts[won]->exitCode() == 0 && (cuts[lost]->exitCode() == 1 || cuts[lost]->exitCode() == 2),
                 qPrintable(said));
        const QString target = "\"" + dir.filePath("c.vob") + "\"";
        QVERIFY2(said == "morvane-cut: " + target + " appeared while the clip was being written; that file was kept.\n"
                     || said == "morvane-cut: " + target + " already exists; add --force to replace it.\n",
                 qPrintable(said));
        // the second clip runs to the source's end
        QCOMPARE(bytes(dir.filePath("c.vob")), won == 0 ? media.left(63 * MiB + 4097) : media.mid(MiB - 1));
        QCOMPARE(entries(dir.path()), QStringList({"c.vob", "s.vob"}));
    }

    void terminalBar() // drawn on a terminal, and only there
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("s.vob"), noise(8 * MiB)));
        const QString command = QString(MORVANE_CUT_PATH) + " --duration 8 --start 1 --end 7 s.vob c.vob";
        QProcess tty, pipe;
        tty.setWorkingDirectory(dir.path());
        pipe.setWorkingDirectory(dir.path());
        tty.start("script", {"-qec", command, "/dev/null"});
        QVERIFY2(tty.waitForFinished(30'000) && tty.exitCode() == 0, tty.readAllStandardError());
        const QByteArray drawn = tty.readAllStandardOutput();
        QVERIFY2(drawn.startsWith("\r[") && drawn.endsWith("\r[" + QByteArray(40, '#') + "] 100%\r\n"), drawn);
        QVERIFY(QFile::remove(dir.filePath("c.vob")));
        pipe.start(MORVANE_CUT_PATH, command.split(' ').mid(1));
        QVERIFY(pipe.waitForFinished(30'000) && pipe.exitCode() == 0);
        QCOMPARE(pipe.readAllStandardError() + pipe.readAllStandardOutput(), QByteArray());
    }

    void slowDisk_data()
    {
        QTest::addColumn<QString>("who");
        QTest::newRow("the engine: events every 50 ms, cancel within 1 s") << "engine";
        QTest::newRow("morvane-cut: Ctrl-C within 1 s") << "cli";
    }

    void slowDisk() // an ext4 on a loop device throttled to 8 MB/s for this process
    {
        QFETCH(QString, who);
        QTemporaryDir dir;
        const QString at = dir.filePath("slow"), group = "/sys/fs/cgroup/blkio/morvane-" + QString::number(::getpid());
        QVERIFY(QDir().mkdir(at));
        Mount mount{at, "", ""};
        if (!mount.onImage(dir.filePath("ext4.img"), 256 * MiB, {"mkfs.ext4", "-q", "-F"}, "ext4"))
            QSKIP(qPrintable("cannot mount a loop device: " + mount.failure));
        struct stat device {};
        QVERIFY(::stat(QFile::encodeName(mount.loop), &device) == 0);
        const auto leave = qScopeGuard([&] {
            echoTo("/sys/fs/cgroup/blkio/cgroup.procs", QByteArray::number(::getpid()));
            QDir().rmdir(group);
        });
        const QString limit = QString("%1:%2 8000000").arg(major(device.st_rdev)).arg(minor(device.st_rdev));
        if (!QDir().mkdir(group) || !echoTo(group + "/blkio.throttle.write_bps_device", limit.toUtf8()))
            QSKIP("no cgroup v1 blkio throttle here (/sys/fs/cgroup/blkio): cannot make a slow disk");
        const QByteArray media = noise(64 * MiB);
        QVERIFY(writeFile(dir.filePath("s.vob"), media));
        using Clock = std::chrono::steady_clock;
        const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
        double longestGap = 0, stopped = 0;
        if (who == "cli") {
            QProcess cut;
            cut.setChildProcessModifier([&] { echoTo(group + "/cgroup.procs", QByteArray::number(::getpid())); });
            cut.start(MORVANE_CUT_PATH, {"--duration", "64", "--start", "0", "--end", "63", dir.filePath("s.vob"),
                                         at + "/c.vob"});
            QVERIFY(!cut.waitForFinished(1'500));
            const auto sent = Clock::now();
            QVERIFY(::kill(cut.processId(), SIGINT) == 0 && cut.waitForFinished(5'000));
            stopped = ms(Clock::now() - sent);
            QCOMPARE(cut.exitCode(), 130);
        } else {
            QVERIFY(echoTo(group + "/cgroup.procs", QByteArray::number(::getpid())));
            struct : ProgressSink {
                void setMaximum(std::int64_t) override {}
                void setValue(std::int64_t) override {}
            } progress;
            Clock::time_point last, cancelled, began;
            bool cancel = false;
            ClipCutter cutter(progress, [&] {
                longestGap = std::max(longestGap, ms(Clock::now() - last));
                last = Clock::now();
                if (cancel && last - began > std::chrono::milliseconds(1'500) && cancelled == Clock::time_point())
                    cutter.cancel(), cancelled = last;
            });
            const QByteArray source = QFile::encodeName(dir.filePath("s.vob"));
            const QByteArray target = QFile::encodeName(at + "/c.vob");
            began = last = Clock::now();
            cutter.cut({{source}, target, 64, 0, 4}); // 4 MiB: half a second, and the final flush
            longestGap = std::max(longestGap, ms(Clock::now() - last));
            QCOMPARE(bytes(at + "/c.vob"), media.left(4 * MiB + 4097));
            QVERIFY(QFile::remove(at + "/c.vob"));
            cancel = true;
            began = last = Clock::now();
            QVERIFY_THROWS_EXCEPTION(CutCancelled, cutter.cut({{source}, target, 64, 0, 63}));
            stopped = ms(Clock::now() - cancelled);
        }
        const QString gap = who == "cli" ? "not seen from here" : QString::number(longestGap, 'f', 1) + " ms";
        qInfo("slow disk, %s: stopped %.1f ms after the request; longest gap between events %s", qPrintable(who),
              stopped, qPrintable(gap));
        QVERIFY2(longestGap <= 50, qPrintable(QString::number(longestGap)));
        QVERIFY2(stopped <= 1'000, qPrintable(QString::number(stopped)));
        QCOMPARE(entries(at), QStringList({"lost+found"}));
    }
};

QTEST_MAIN(ReliabilityTest)
#include "tst_reliability.moc"
