// The engine on a loop ext4 throttled to 8 MB/s: events every 50 ms, flush included; cancel within 1 s.

#include "support/Cut.h"

#include <QtTest>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace morvane;
constexpr qint64 MiB = 1 << 20;

static bool echoTo(const QString &path, const QByteArray &text) // sysfs wants one write
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(text) == text.size();
}

class ReliabilityTest : public QObject {
    Q_OBJECT
private slots:
    void slowDisk();
};

void ReliabilityTest::slowDisk()
{
    QTemporaryDir dir;
    QTemporaryDir at;
    const QString image = dir.filePath("ext4.img");
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(at.path()), MNT_DETACH); });
    for (const QStringList &step :
         {QStringList{"mkfs.ext4", "-qF", image, "256M"}, QStringList{"mount", "-o", "loop", image, at.path()}}) {
        const test::Ran ran = test::run(step[0], step.mid(1));
        if (ran.exitCode != 0)
            QSKIP(qPrintable("cannot mount a loop device: " + step[0] + " failed or is missing: " + ran.err));
    }
    struct stat device {};
    QVERIFY(::stat(QFile::encodeName(at.path()), &device) == 0);
    const QString group = "/sys/fs/cgroup/blkio/morvane-" + QString::number(::getpid());
    const auto join = [](const QString &to) { return echoTo(to + "/cgroup.procs", QByteArray::number(::getpid())); };
    const auto leave = qScopeGuard([&] {
        join("/sys/fs/cgroup/blkio");
        QDir().rmdir(group);
    });
    const QString limit = QString("%1:%2 8000000").arg(major(device.st_dev)).arg(minor(device.st_dev));
    if (!QDir().mkdir(group) || !echoTo(group + "/blkio.throttle.write_bps_device", limit.toUtf8()))
        QSKIP("no cgroup v1 blkio throttle here (/sys/fs/cgroup/blkio): cannot make a slow disk");
    const QByteArray media = test::randomBytes(64 * MiB, 1);
    const QByteArray source = QFile::encodeName(dir.filePath("s.vob"));
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
    cutter.cut({{source}, target, 64, 0, 4}); // half a second, and the flush
    gap = std::max(gap, clock.elapsed() - last);
    QCOMPARE(test::readFile(target), media.left(4 * MiB + 4097));
    QVERIFY(QFile::remove(target));
    last = clock.elapsed();
    cancelAt = last + 1500;
    QVERIFY_THROWS_EXCEPTION(CutCancelled, cutter.cut({{source}, target, 64, 0, 63}));
    const qint64 stopped = clock.elapsed() - cancelAt;
    qInfo("slow disk: longest gap between events %lld ms; stopped %lld ms after a cancel", gap, stopped);
    // Slack for a loaded machine; one wait on the disk takes seconds.
    QVERIFY2(gap <= 250 && stopped <= 1000, "the times above");
    QCOMPARE(test::listing(QFile::encodeName(at.path())), QByteArrayList{"lost+found"});
}

QTEST_MAIN(ReliabilityTest)
#include "tst_reliability.moc"
