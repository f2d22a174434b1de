// Faults in the window's save with the real player, and the engine on a slow disk: one clear message, nothing lost.

#include "app/ui/Form1.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/Cut.h"
#include "support/WindowFixture.h"

#include <QtTest>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace morvane;
constexpr qint64 MiB = 1 << 20;

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

// A mount at `at`, undone when it goes; failure says why there is none.
struct Mount {
    QString at;
    QString failure = "none";
    ~Mount()
    {
        if (failure.isEmpty())
            ::umount2(QFile::encodeName(at), MNT_DETACH);
    }
    bool make(const QString &program, const QStringList &args) // a step towards it
    {
        const test::Ran ran = test::run(program, args);
        failure = ran.exitCode == 0 ? "" : program + " failed or is missing: " + ran.err;
        return ran.exitCode == 0;
    }
};

class ReliabilityTest : public QObject {
    Q_OBJECT
private slots:
    void window_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message"); // how the one message starts
        const QString no = "The clip was not saved.\n";
        QTest::newRow("source emptied after Open")
            << "truncate" << no + "The source has fewer bytes (0) than its duration has seconds (10)";
        QTest::newRow("full file system") << "full" << no + "Writing the clip failed: No space left on device.";
        QTest::newRow("source as target through a FUSE view") << "bindfs"
                                                              << "Cannot overwrite file in use...";
        QTest::newRow("a name that may stand for bytes that are not text")
            << "inexact" << no + "The name \"<target>\" cannot stand for one file exactly";
        QTest::newRow("a file appears at the new name during the save")
            << "appears" << no + "\"<target>\" appeared while the clip was being written; that file was kept.";
        QTest::newRow("closed during a save") << "close" << QString();
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
        QVERIFY(test::writeFile(src, test::readFile(test::media("dvd.vob"))));
        Mount view{viewDir.path()};
        Mount full{out};
        if (setup == "bindfs" && !view.make("bindfs", {dir.path(), view.at}))
            QSKIP(qPrintable("cannot mount: " + view.failure));
        if (setup == "full" && !full.make("mount", {"-t", "tmpfs", "-o", "size=512k", "tmpfs", out}))
            QSKIP(qPrintable("cannot mount: " + full.failure));
        if (setup != "bindfs" && setup != "inexact" && !appears)
            QVERIFY(test::writeFile(target, "old"));
        const QByteArray sourceBefore = test::readFile(src);
        const QByteArray targetBefore = test::readFile(target);
        const QString entriesBefore = test::entries(out);

        test::WindowFixture w(std::make_unique<QtMediaPlayer>()); // no video output: headless
        w.dialogs.openAnswers << src;
        w.click(w.form->Command4);
        QVERIFY(w.form->state.fileOpen());
        if (setup == "truncate")
            QVERIFY(QFile::resize(src, 0));
        if (setup == "close") // 5 GiB of holes once the player measured it: a save long enough to catch midway
            QVERIFY(QFile::resize(src, 5120 * MiB));
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
        QCOMPARE(w.form->isVisible(), setup != "close");
        const QString said = w.dialogs.messages.join('|');
        QVERIFY2(w.dialogs.messages.size() == (message.isEmpty() ? 0 : 1), qPrintable(said));
        message.replace("<target>", target);
        QVERIFY2(message.isEmpty() || said.startsWith(message), qPrintable(said));
        QCOMPARE(test::entries(out), appears ? QFileInfo(target).fileName() : entriesBefore);
        if (setup != "truncate" && setup != "close")
            QCOMPARE(test::readFile(src), sourceBefore);
        QCOMPARE(test::readFile(target), appears ? "precious" : targetBefore);
    }

    // An ext4 on a loop device, its writes throttled to 8 MB/s: the engine lets events run every 50 ms, also over
    // the final flush, and a cancel stops a cut within 1 s.
    void slowDisk()
    {
        QTemporaryDir dir;
        QTemporaryDir at;
        const QString image = dir.filePath("ext4.img");
        Mount mount{at.path()};
        if (!mount.make("mkfs.ext4", {"-qF", image, "256M"}) || !mount.make("mount", {"-o", "loop", image, at.path()}))
            QSKIP(qPrintable("cannot mount a loop device: " + mount.failure));
        struct stat device {};
        QVERIFY(::stat(QFile::encodeName(at.path()), &device) == 0);
        const QString group = "/sys/fs/cgroup/blkio/morvane-" + QString::number(::getpid());
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
        const QByteArray target = QFile::encodeName(at.filePath("c.vob"));
        QVERIFY(test::writeFile(source, media));
        QVERIFY(join(group));

        test::NullProgress progress;
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 gap = 0;
        qint64 cancelAt = std::numeric_limits<qint64>::max();
        ClipCutter cutter(progress, [&] {
            gap = std::max(gap, clock.elapsed() - last);
            last = clock.elapsed();
            if (last >= cancelAt)
                cutter.cancel();
        });
        clock.start();
        cutter.cut({{QFile::encodeName(source)}, target, 64, 0, 4}); // 4 MiB: half a second, and the final flush
        gap = std::max(gap, clock.elapsed() - last);
        QCOMPARE(test::readFile(target), media.left(4 * MiB + 4097));
        QVERIFY(QFile::remove(target));
        last = clock.elapsed();
        cancelAt = last + 1500;
        QVERIFY_THROWS_EXCEPTION(CutCancelled, cutter.cut({{QFile::encodeName(source)}, target, 64, 0, 63}));
        const qint64 stopped = clock.elapsed() - cancelAt;
        qInfo("slow disk: longest gap between events %lld ms; stopped %lld ms after a cancel", gap, stopped);
        // A wait on the throttled disk takes seconds; the bounds leave room for a loaded machine.
        QVERIFY2(gap <= 250 && stopped <= 1000, "the times above");
        QCOMPARE(test::entries(at.path()), "lost+found");
    }
};

QTEST_MAIN(ReliabilityTest)
#include "tst_reliability.moc"
