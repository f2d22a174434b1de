// The window with the real player, and the engine on a slow disk, against faults: one clear message, nothing lost.

#include "app/ui/Form1.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/Cut.h"
#include "support/WindowFixture.h"

#include <QtTest>
#include <chrono>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace morvane;
constexpr qint64 MiB = 1 << 20;
constexpr qint64 GiB = MiB << 10;

static QByteArray noise(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(size).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

static bool echoTo(const QString &path, const QByteArray &text) // sysfs takes one write, no resizing
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(text) == text.size();
}

// The empty string when the command worked, else what it said.
static QString failureOf(const QString &program, const QStringList &args)
{
    const test::Ran ran = test::run(program, args);
    if (ran.exitCode == 0)
        return "";
    return program + ": " + (ran.err.isEmpty() ? "did not run (scripts/install-deps)" : ran.err);
}

// A mount at `at`, undone when it goes; failure says why there is none.
struct Mount {
    QString at;
    QString failure = "none";
    ~Mount()
    {
        if (failure.isEmpty())
            ::umount2(QFile::encodeName(at), MNT_DETACH);
    }
    bool make(const QString &type, const QString &from) // bindfs: a view of the folder from; ext4: an image
    {
        if (type == "bindfs") {
            failure = failureOf("bindfs", {from, at});
        } else if (type == "tmpfs") {
            const bool mounted = ::mount("tmpfs", QFile::encodeName(at), "tmpfs", 0, "size=512k") == 0;
            failure = mounted ? "" : std::strerror(errno);
        } else if (!test::writeFile(from, "", 256 * MiB)) {
            failure = "cannot make " + from;
        } else {
            failure = failureOf("mkfs.ext4", {"-qF", from});
            if (failure.isEmpty())
                failure = failureOf("mount", {"-o", "loop", from, at});
        }
        return failure.isEmpty();
    }
};

class ReliabilityTest : public QObject {
    Q_OBJECT
private slots:
    void window_data()
    {
        QTest::addColumn<QString>("setup");   // what is wrong, or what happens midway
        QTest::addColumn<QString>("message"); // how the one message starts
        const QString no = "The clip was not saved.\n";
        const QString inUse = "Cannot overwrite file in use...";
        QTest::newRow("random bytes") << "random.bin"
                                      << "Cannot play \"<source>\".\n";
        QTest::newRow("source deleted after Open")
            << "delete" << no + "The source file \"<source>\" cannot be opened: No such file or directory.";
        QTest::newRow("source emptied after Open")
            << "truncate" << no + "The source has fewer bytes (0) than its duration has seconds (10)";
        QTest::newRow("full file system") << "full" << no + "Writing the clip failed: No space left on device.";
        QTest::newRow("source as target through a link") << "link" << inUse;
        QTest::newRow("source as target through a FUSE view") << "bindfs" << inUse;
        QTest::newRow("a name that may stand for bytes that are not text")
            << "inexact" << no + "The name \"<target>\" cannot stand for one file exactly";
        QTest::newRow("a file appears at the new name during the save")
            << "appears" << no + "\"<target>\" appeared while the clip was being written; that file was kept.";
        QTest::newRow("closed during a save") << "close"
                                              << "";
    }

    void window()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QTemporaryDir viewDir;
        const QString src = dir.filePath("it's \"Ärger\".vob");
        const QString out = dir.filePath("out");
        const QString name = setup == "inexact" ? "/clip\uFFFD.vob" : "/a 'clip' „Öl“ 日本";
        const QString target = setup == "bindfs" ? viewDir.filePath(QFileInfo(src).fileName()) : out + name;
        const bool appears = setup == "appears";
        QVERIFY(QDir().mkdir(out));
        QVERIFY(test::writeFile(src, test::readFile(test::media(setup.contains('.') ? setup : "dvd.vob"))));
        Mount view{viewDir.path()};
        Mount full{out};
        if (setup == "bindfs" && !view.make("bindfs", dir.path()))
            QSKIP(qPrintable("cannot mount: " + view.failure));
        if (setup == "full" && !full.make("tmpfs", ""))
            QSKIP(qPrintable("cannot mount: " + full.failure));
        if (setup == "link")
            QVERIFY(QFile::link(src, target));
        else if (setup != "bindfs" && setup != "inexact" && !appears)
            QVERIFY(test::writeFile(target, "old"));
        const QByteArray sourceBefore = test::readFile(src);
        const QByteArray targetBefore = test::readFile(target);
        const QString entriesBefore = test::entries(out);

        test::WindowFixture w(std::make_unique<QtMediaPlayer>()); // no video output: headless
        w.dialogs.openAnswers << src;
        w.click(w.form->Command4);
        if (w.form->state.fileOpen()) {
            if (setup == "delete")
                QVERIFY(QFile::remove(src));
            if (setup == "truncate")
                QVERIFY(QFile::resize(src, 0));
            if (setup == "close") // 5 GiB of holes once the player measured it: a save long enough to catch midway
                QVERIFY(QFile::resize(src, 5 * GiB));
            connect(w.form->pb, &QProgressBar::valueChanged, w.form.get(), [&](int value) { // before the naming
                if (value > 0 && setup == "close")
                    w.form->close();
                if (value > 0 && appears && !QFileInfo::exists(target))
                    test::writeFile(target, "precious");
            });
            w.form->state.StartSecond = 1;
            w.form->state.EndSecond = 9;
            w.dialogs.saveAnswers << target;
            w.dialogs.yesNoAnswers << true; // replace the older clip
            w.click(w.form->Command7);
        }
        QCOMPARE(w.form->isVisible(), setup != "close");
        const QString said = w.dialogs.messages.join('|');
        QVERIFY2(w.dialogs.messages.size() == (message.isEmpty() ? 0 : 1), qPrintable(said));
        message.replace("<source>", src).replace("<target>", target);
        QVERIFY2(message.isEmpty() || said.startsWith(message), qPrintable(said));
        QCOMPARE(test::entries(out), appears ? QFileInfo(target).fileName() : entriesBefore);
        if (setup != "delete" && setup != "truncate" && setup != "close")
            QCOMPARE(test::readFile(src), sourceBefore);
        QCOMPARE(test::readFile(target), appears ? "precious" : targetBefore);
    }

    // An ext4 on a loop device, its writes throttled to 8 MB/s: the engine lets events run every 50 ms, also over
    // the final flush, and a cancel stops a cut within 1 s.
    void slowDisk()
    {
        QTemporaryDir dir;
        const QString at = dir.filePath("slow");
        const QString group = "/sys/fs/cgroup/blkio/morvane-" + QString::number(::getpid());
        Mount mount{at};
        if (!QDir().mkdir(at) || !mount.make("ext4", dir.filePath("ext4.img")))
            QSKIP(qPrintable("cannot mount a loop device: " + mount.failure));
        struct stat device {};
        QVERIFY(::stat(QFile::encodeName(at), &device) == 0);
        const auto join = [](const QString &to) {
            return echoTo(to + "/cgroup.procs", QByteArray::number(::getpid()));
        };
        const auto leave = qScopeGuard([&] {
            join("/sys/fs/cgroup/blkio");
            QDir().rmdir(group);
        });
        const QString limit = QString("%1:%2 8000000").arg(major(device.st_dev)).arg(minor(device.st_dev));
        if (!QDir().mkdir(group) || !echoTo(group + "/blkio.throttle.write_bps_device", limit.toUtf8()))
            QSKIP("no cgroup v1 blkio throttle here (/sys/fs/cgroup/blkio): cannot make a slow disk");
        const QByteArray media = noise(64 * MiB);
        const QString source = dir.filePath("s.vob");
        const QString target = at + "/c.vob";
        QVERIFY(test::writeFile(source, media));
        QVERIFY(join(group));

        using Clock = std::chrono::steady_clock;
        const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
        test::NullProgress progress;
        double gap = 0;
        Clock::time_point last;
        Clock::time_point cancelled;
        Clock::time_point cancelAt = Clock::time_point::max();
        ClipCutter cutter(progress, [&] {
            gap = std::max(gap, ms(Clock::now() - last));
            last = Clock::now();
            if (last > cancelAt && cancelled == Clock::time_point()) {
                cutter.cancel();
                cancelled = last;
            }
        });
        const QByteArray from = QFile::encodeName(source);
        const QByteArray to = QFile::encodeName(target);
        last = Clock::now();
        cutter.cut({{from}, to, 64, 0, 4}); // 4 MiB: half a second, and the final flush
        gap = std::max(gap, ms(Clock::now() - last));
        QCOMPARE(test::readFile(target), media.left(4 * MiB + 4097));
        QVERIFY(QFile::remove(target));
        last = Clock::now();
        cancelAt = last + std::chrono::milliseconds(1'500);
        QVERIFY_THROWS_EXCEPTION(CutCancelled, cutter.cut({{from}, to, 64, 0, 63}));
        const double stopped = ms(Clock::now() - cancelled);
        qInfo("slow disk: longest gap between events %.1f ms; stopped %.1f ms after a cancel", gap, stopped);
        // A wait on the throttled disk takes seconds; the bounds leave room for a loaded machine.
        QVERIFY2(gap <= 250 && stopped <= 1'000, "the times above");
        QCOMPARE(test::entries(at), "lost+found");
    }
};

QTEST_MAIN(ReliabilityTest)
#include "tst_reliability.moc"
