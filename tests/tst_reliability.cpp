// morvane-cut and the window with the real player, against bad input and faults: one clear message, nothing lost.

#include "app/ui/Form1.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/ScriptedDialogs.h"

#include <QtTest>
#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace morvane;
constexpr qint64 GiB = qint64(1) << 30;

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

class ReliabilityTest : public QObject {
    Q_OBJECT
private slots:
    void faults_data()
    {
        QTest::addColumn<QString>("setup");   // what is wrong, or what happens midway
        QTest::addColumn<QString>("message"); // {s}: source, {t}: target; none: clip made, or killed, or closed
        QTest::newRow("cut: directory") << "directory" << "morvane-cut: The source \"{s}\" is not a regular file.";
        QTest::newRow("cut: no read permission") << "unreadable" << "morvane-cut: The source file \"{s}\" cannot be opened: Permission denied.";
        QTest::newRow("cut: folder without write permission") << "locked" << "morvane-cut: The clip cannot be created as \"{t}\": Permission denied";
        QTest::newRow("cut: spaces, quotes, non-ASCII in the names") << "" << "";
        QTest::newRow("cut: sparse source over 4 GiB") << "sparse" << "";
        QTest::newRow("cut: SIGKILL, existing target") << "killed" << "";
        QTest::newRow("cut: SIGKILL, new target") << "killed, new target" << "";
        QTest::newRow("window: empty file") << "empty.vob" << "Cannot play \"{s}\".\n";
        QTest::newRow("window: random bytes") << "random.bin" << "Cannot play \"{s}\".\n";
        QTest::newRow("window: source deleted after Open") << "delete" << "The clip was not saved.\nThe source file \"{s}\" cannot be opened: No such file or directory.";
        QTest::newRow("window: source emptied after Open") << "truncate" << "The clip was not saved.\nThe source has fewer bytes (0) than its duration has seconds (10)";
        QTest::newRow("window: full file system") << "full" << "The clip was not saved.\nWriting the clip failed: No space left on device.";
        QTest::newRow("window: source as target through a link") << "link" << "Cannot overwrite file in use...";
        QTest::newRow("window: closed during a save") << "close" << "";
    }

    void faults()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        const bool window = QByteArray(QTest::currentDataTag()).startsWith("window"), killed = setup.startsWith("killed");
        const bool sparse = setup == "sparse", made = !window && !killed && message.isEmpty();
        const qint64 d = sparse ? 5000 : 10, start = sparse ? 4500 : 1, end = start + (sparse ? 1 : 8);
        QTemporaryDir dir;
        const QString src = dir.filePath("it's \"Ärger\".vob"), out = dir.filePath("out"), target = out + "/a 'clip' „Öl“ 日本";
        const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(out), MNT_DETACH); });
        QVERIFY(QDir().mkdir(out) && setMode(dir.path(), 0755) && setMode(out, 0777));

        // killed: 4 GiB of holes to copy take seconds; the clip is begun well within 200 ms
        const QByteArray media = bytes(MORVANE_TEST_MEDIA "/" + (setup.contains('.') ? setup : "dvd.vob"));
        const qint64 size = sparse || killed ? 5 * GiB : 0, at = sparse ? 5 * GiB / d * start - 65536 : 0;
        QVERIFY(setup == "directory" ? QDir().mkdir(src) : writeFile(src, media, size, at));
        if (setup == "full" && ::mount("tmpfs", QFile::encodeName(out), "tmpfs", 0, "size=512k") != 0)
            QSKIP(qPrintable("cannot mount a small tmpfs to fill: " + QString::fromLocal8Bit(std::strerror(errno))));
        QVERIFY(setup == "link" ? QFile::link(src, target) : setup.endsWith("new target") || writeFile(target, "old"));
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
                    connect(form.pb, &QProgressBar::valueChanged, &form, [&](int value) { if (value > 0) form.close(); });
                form.state.StartSecond = start, form.state.EndSecond = end;
                dialogs.saveAnswers << target;
                dialogs.yesNoAnswers << true; // replace the older clip
                QTest::mouseClick(form.Command7, Qt::LeftButton);
            }
            QCOMPARE(form.isVisible(), setup != "close");
            said = dialogs.messages;
        } else {
            const QStringList args = QStringLiteral("--force --duration %1 --start %2 --end %3").arg(d).arg(start).arg(end).split(' ')
                                     << src << target;
            const QStringList nobody{"--reuid=nobody", "--regid=nogroup", "--clear-groups", MORVANE_CUT_PATH}; // root can read all
            QProcess cut;
            cut.start(::geteuid() == 0 ? "setpriv" : MORVANE_CUT_PATH, ::geteuid() == 0 ? nobody + args : args);
            QVERIFY(!killed || (!cut.waitForFinished(200) && ::kill(cut.processId(), SIGKILL) == 0));
            QVERIFY(cut.waitForFinished(30'000));
            QCOMPARE(cut.exitStatus() == QProcess::CrashExit ? -1 : cut.exitCode(), killed ? -1 : made ? 0 : 1);
            said = QString::fromUtf8(cut.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        }

        const QString expected = QString(message).replace("{s}", src).replace("{t}", target);
        QVERIFY2(message.isEmpty() ? said.isEmpty() : said.size() == 1 && said[0].startsWith(expected), qPrintable(said.join('|')));
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), entriesBefore);
        QVERIFY(sourceBefore.isEmpty() || (QStringList{"delete", "truncate", "close"}.contains(setup)) || bytes(src) == sourceBefore);
        const qint64 rate = QFileInfo(src).size() / d, length = (end - start) * rate; // made: the marked seconds
        const QByteArray clip = bytes(target);
        QVERIFY(made ? clip.size() >= length && bytes(src, start * rate - 8192, length + 16384).contains(clip) : clip == targetBefore);
    }
};

QTEST_MAIN(ReliabilityTest)
#include "tst_reliability.moc"
