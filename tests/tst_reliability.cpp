// Bad input and faults, through both front ends: morvane-cut run as a
// process, and the window with the real media player. Every case checks the
// message a person is given and the bytes left on disk afterwards: no partial
// clip under the target's name, an existing target unchanged, the source
// untouched, no stray temporary file.

#include "app/ui/Form1.h"
#include "playback/media/QtMediaPlayer.h"
#include "state/TimeText.h"
#include "support/ScriptedDialogs.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <memory>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

constexpr qint64 MiB = 1 << 20;
constexpr qint64 GiB = qint64(1) << 30;

// Set in a copy of this program that runs one row as an unprivileged user.
const char kChildVariable[] = "MORVANE_RELIABILITY_CHILD";
const char kMediaVariable[] = "MORVANE_RELIABILITY_MEDIA";

bool isRoot()
{
    return ::geteuid() == 0;
}

bool isChild()
{
    return qEnvironmentVariableIsSet(kChildVariable);
}

QString media(const QString &name)
{
    return qEnvironmentVariable(kMediaVariable, QStringLiteral(MORVANE_TEST_MEDIA)) + QLatin1Char('/') + name;
}

QByteArray path8(const QString &path)
{
    return QFile::encodeName(path);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readRange(const QString &path, qint64 offset, qint64 length)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return {};
    return file.read(length);
}

// Streams, so that a clip of hundreds of MiB costs no memory.
QByteArray digest(const QString &path, qint64 offset = 0, qint64 length = -1)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 left = length < 0 ? file.size() - offset : length;
    while (left > 0) {
        const QByteArray chunk = file.read(std::min<qint64>(left, 4 * MiB));
        if (chunk.isEmpty())
            return {};
        hash.addData(chunk);
        left -= chunk.size();
    }
    return hash.result();
}

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// A file of size bytes that holds data only where pieces say; the rest is a
// hole and costs no disk.
bool makeSparse(const QString &path, qint64 size, const QList<QPair<qint64, QByteArray>> &pieces = {})
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        return false;
    for (const auto &[offset, bytes] : pieces)
        if (!file.seek(offset) || file.write(bytes) != bytes.size())
            return false;
    return true;
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

qint64 freeBlocks(const QString &dir)
{
    struct statvfs info {};
    return ::statvfs(path8(dir).constData(), &info) == 0 ? qint64(info.f_bfree) : -1;
}

// Where a clip lies in its source: the marks at the file's average byte
// rate, blocks of 4096 bytes plus one, from the byte before the start mark's
// offset, and never past the source's end.
struct Span {
    qint64 offset = 0;
    qint64 length = 0;
};

Span clipSpan(qint64 sourceLength, int d, int start, int end)
{
    const qint64 rate = sourceLength / d;
    const qint64 s = rate * start;
    const qint64 e = rate * end;
    const qint64 offset = s == 0 ? 0 : s - 1;
    const qint64 blocks = (e - s) / 4096 + 1;
    return {offset, std::min(blocks * 4096 + 1, sourceLength - offset)};
}

QString fill(QString text, const QString &source, const QString &target)
{
    return text.replace(QLatin1String("{source}"), source).replace(QLatin1String("{target}"), target);
}

// Size of the largest file that pid holds open under dir, or -1: the clip
// that a cut is still writing, whether unnamed or under a temporary name.
qint64 clipBytesUnder(qint64 pid, const QString &dir)
{
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    qint64 largest = -1;
    for (const QString &fd : QDir(fds).entryList(QDir::Files | QDir::System)) {
        const QByteArray link = path8(fds + QLatin1Char('/') + fd);
        char buffer[4096];
        const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer - 1);
        if (n <= 0)
            continue;
        const QString target = QFile::decodeName(QByteArray(buffer, n));
        struct stat status {};
        if (target.startsWith(dir + QLatin1Char('/')) && ::stat(link.constData(), &status) == 0
            && S_ISREG(status.st_mode))
            largest = std::max<qint64>(largest, status.st_size);
    }
    return largest;
}

bool waitUntilStopped(qint64 pid)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const qsizetype close = stat.lastIndexOf(')');
        if (close > 0 && close + 2 < stat.size() && (stat[close + 2] == 'T' || stat[close + 2] == 't'))
            return true;
        QThread::usleep(200);
    }
    return false;
}

// The user that permission bits are tested against when the tests run as root.
struct User {
    uid_t uid = 65534;
    gid_t gid = 65534;
};

User unprivilegedUser()
{
    const struct passwd *entry = ::getpwnam("nobody");
    return entry ? User{entry->pw_uid, entry->pw_gid} : User{};
}

// Runs in the forked child before exec; dies rather than run on as root.
void switchUser(QProcess &process)
{
    const User user = unprivilegedUser();
    process.setChildProcessModifier([user] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0)
            ::_exit(126);
    });
}

// A tmpfs mounted on a folder for the object's life.
class SmallFileSystem {
public:
    SmallFileSystem(const QString &dir, const QByteArray &size) : dir_(path8(dir))
    {
        if (::mount("tmpfs", dir_.constData(), "tmpfs", MS_NOSUID | MS_NODEV, ("mode=0777,size=" + size).constData()) == 0)
            mounted_ = true;
        else
            error_ = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~SmallFileSystem()
    {
        if (mounted_)
            ::umount2(dir_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    QString error() const { return error_; }

private:
    QByteArray dir_;
    bool mounted_ = false;
    QString error_;
};

// The window as a person meets it: real widgets and the real player, with
// the answers to its dialogs scripted.
struct Window {
    QtMediaPlayer player; // no video output: headless
    ScriptedDialogs dialogs;
    ScriptedWebPanel web;
    std::unique_ptr<Form1> form;

    Window() : form(std::make_unique<Form1>(player, dialogs, web)) { form->show(); }

    void click(QWidget *button) { QTest::mouseClick(button, Qt::LeftButton); }
    void open(const QString &path)
    {
        dialogs.openAnswers << path;
        click(form->Command4);
    }
    // The marks are set directly: reaching them by playback would only add
    // waiting.
    void save(const QString &target, int start, int end, bool overwrite = true)
    {
        form->state.StartSecond = start;
        form->state.EndSecond = end;
        dialogs.saveAnswers << target;
        dialogs.yesNoAnswers << overwrite;
        click(form->Command7);
    }
    int durationSeconds() { return RoundSeconds(player.duration()); }
};

} // namespace

class ReliabilityTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void cutFailsCleanly_data();
    void cutFailsCleanly();
    void cutCopiesExactly_data();
    void cutCopiesExactly();
    void cutFaultMidway_data();
    void cutFaultMidway();

    void windowOpenRefuses_data();
    void windowOpenRefuses();
    void windowSaveFails_data();
    void windowSaveFails();
    void windowSavesOddNames_data();
    void windowSavesOddNames();
    void windowFaultDuringSave_data();
    void windowFaultDuringSave();
    void windowAsUser_data();
    void windowAsUser();

private:
    struct CutRun {
        int exitCode = -1;
        bool crashed = false;
        QString stdErr;
    };
    CutRun runCut(const QStringList &args, bool asUser);
    void prepareCut(QProcess &process, bool asUser);
    bool runRowAsUser();
    void lock(const QString &path, mode_t mode);
    QString copyMedia(const QString &name, const QString &as);

    // Copies of the programs and media where the unprivileged user reaches them.
    std::unique_ptr<QTemporaryDir> kit_;
    std::unique_ptr<QTemporaryDir> work_;
    QString src_, out_;
    QStringList locked_;
};

void ReliabilityTest::initTestCase()
{
    for (const char *name : {"dvd.vob", "random.bin", "empty.vob"})
        QVERIFY2(QFileInfo::exists(media(QString::fromLatin1(name))),
                 qPrintable(QStringLiteral("test media missing: %1; run scripts/make-test-media").arg(media(QString::fromLatin1(name)))));
    if (!isRoot() || isChild())
        return;

    // The build tree may sit where the unprivileged user cannot reach.
    kit_ = std::make_unique<QTemporaryDir>();
    QVERIFY(kit_->isValid());
    const User user = unprivilegedUser();
    QVERIFY(::chmod(path8(kit_->path()).constData(), 0755) == 0);
    for (const char *dir : {"bin", "media", "home", "home/.cache", "run"})
        QVERIFY(QDir(kit_->path()).mkpath(QString::fromLatin1(dir)));
    for (const char *dir : {"home", "home/.cache", "run"})
        QVERIFY(::chown(path8(kit_->filePath(QString::fromLatin1(dir))).constData(), user.uid, user.gid) == 0);
    QVERIFY(::chmod(path8(kit_->filePath("run")).constData(), 0700) == 0);
    QVERIFY(QFile::copy(QStringLiteral(MORVANE_CUT_PATH), kit_->filePath("bin/morvane-cut")));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), kit_->filePath("bin/tst_reliability")));
    for (const char *name : {"dvd.vob", "random.bin", "empty.vob"})
        QVERIFY(QFile::copy(media(QString::fromLatin1(name)), kit_->filePath(QStringLiteral("media/") + QString::fromLatin1(name))));
    for (const QString &file : QDir(kit_->filePath("bin")).entryList(QDir::Files))
        QVERIFY(::chmod(path8(kit_->filePath("bin/" + file)).constData(), 0755) == 0);
    for (const QString &file : QDir(kit_->filePath("media")).entryList(QDir::Files))
        QVERIFY(::chmod(path8(kit_->filePath("media/" + file)).constData(), 0644) == 0);
}

void ReliabilityTest::init()
{
    work_ = std::make_unique<QTemporaryDir>();
    QVERIFY(work_->isValid());
    src_ = work_->filePath("src");
    out_ = work_->filePath("out");
    QVERIFY(QDir().mkpath(src_) && QDir().mkpath(out_));
    // Reachable by the unprivileged user; the clips go where anyone may write.
    QVERIFY(::chmod(path8(work_->path()).constData(), 0755) == 0);
    QVERIFY(::chmod(path8(src_).constData(), 0755) == 0);
    QVERIFY(::chmod(path8(out_).constData(), 0777) == 0);
}

void ReliabilityTest::cleanup()
{
    // A user who is not root could not delete what it locked itself out of.
    for (const QString &path : std::as_const(locked_))
        ::chmod(path8(path).constData(), QFileInfo(path).isDir() ? 0755 : 0644);
    locked_.clear();
    work_.reset();
}

void ReliabilityTest::lock(const QString &path, mode_t mode)
{
    QVERIFY(::chmod(path8(path).constData(), mode) == 0);
    locked_ << path;
}

QString ReliabilityTest::copyMedia(const QString &name, const QString &as)
{
    const QString path = src_ + QLatin1Char('/') + as;
    QFile::remove(path);
    if (!QFile::copy(media(name), path))
        return {};
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                    | QFileDevice::ReadOther);
    return path;
}

void ReliabilityTest::prepareCut(QProcess &process, bool asUser)
{
    QString program = QStringLiteral(MORVANE_CUT_PATH);
    if (asUser && isRoot()) {
        switchUser(process);
        program = kit_->filePath("bin/morvane-cut");
    }
    process.setProgram(program);
    // stderr is not a terminal, so no progress bar mixes into the message.
    process.setProcessChannelMode(QProcess::SeparateChannels);
}

ReliabilityTest::CutRun ReliabilityTest::runCut(const QStringList &args, bool asUser)
{
    QProcess process;
    prepareCut(process, asUser);
    process.setArguments(args);
    process.start();
    CutRun run;
    if (!process.waitForFinished(60'000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.crashed = process.exitStatus() != QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.stdErr = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Root passes every permission check, so a row about permissions runs again
// in a copy of this program switched to an unprivileged user. Returns true
// when that child ran the row (its verdict is this row's), false when the row
// is to run here.
bool ReliabilityTest::runRowAsUser()
{
    if (!isRoot() || isChild())
        return false;
    QProcess child;
    switchUser(child);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    env.insert(QString::fromLatin1(kMediaVariable), kit_->filePath("media"));
    env.insert(QStringLiteral("HOME"), kit_->filePath("home"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), kit_->filePath("home/.cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), kit_->filePath("run"));
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QString row = QString::fromLatin1(QTest::currentTestFunction()) + QLatin1Char(':')
                        + QString::fromLatin1(QTest::currentDataTag());
    child.start(kit_->filePath("bin/tst_reliability"), {row});
    const bool finished = child.waitForFinished(120'000);
    if (!finished)
        child.kill();
    const QString output = QString::fromUtf8(child.readAll());
    if (!finished || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        qWarning().noquote() << "as an unprivileged user:\n" << output;
    [&] {
        QVERIFY2(finished, "the unprivileged run did not finish");
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(output.contains(QStringLiteral("PASS   : ReliabilityTest::") + row.section(QLatin1Char(':'), 0, 0)),
                 qPrintable(output));
    }();
    return true;
}

// ---- morvane-cut -----------------------------------------------------------

void ReliabilityTest::cutFailsCleanly_data()
{
    QTest::addColumn<QString>("source");   // what the source is
    QTest::addColumn<QString>("target");   // what stands at the target's name, and where
    QTest::addColumn<QStringList>("args"); // {source} and {target} stand for the paths
    QTest::addColumn<bool>("asUser");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QStringList cut{"--duration", "10", "--start", "1", "--end", "9", "--force", "{source}", "{target}"};
    QTest::newRow("directory") << "directory" << "existing" << cut << false << 1
                               << "The source \"{source}\" is not a regular file.";
    QTest::newRow("empty file") << "empty" << "existing" << cut << false << 1
                                << "The source has fewer bytes (0) than its duration has seconds (10)";
    QTest::newRow("random bytes, duration from the player")
        << "random" << "new" << QStringList{"--start", "1", "--end", "9", "{source}", "{target}"} << false << 2
        << "{source}";
    QTest::newRow("no read permission") << "unreadable" << "new" << cut << true << 1
                                        << "The source file \"{source}\" cannot be opened: Permission denied.";
    QTest::newRow("folder without write permission, new target")
        << "dvd" << "locked folder" << cut << true << 1 << "The clip cannot be created as \"{target}\"";
    QTest::newRow("folder without write permission, writable target")
        << "dvd" << "existing in locked folder" << cut << true << 1 << "The clip cannot be created as \"{target}\"";
    QTest::newRow("directory as target") << "dvd" << "directory" << cut << false << 1
                                         << "The clip cannot be created as \"{target}\"";
    QTest::newRow("full file system, new target") << "dvd" << "full" << cut << false << 1
                                                  << "Writing the clip failed: No space left on device.";
    QTest::newRow("full file system, existing target") << "dvd" << "existing on full" << cut << false << 1
                                                        << "Writing the clip failed: No space left on device.";
    QTest::newRow("source as target, symbolic link") << "dvd" << "symlink to source" << cut << false << 1
                                                     << "is the source file itself";
    QTest::newRow("source as target, hard link") << "dvd" << "hard link to source" << cut << false << 1
                                                 << "is the source file itself";
    QTest::newRow("source as target, by ..") << "dvd" << "dotdot to source" << cut << false << 1
                                             << "is the source file itself";
    QTest::newRow("source as target, link, no --force")
        << "dvd" << "symlink to source" << QStringList{"--duration", "10", "--start", "1", "--end", "9", "{source}", "{target}"}
        << false << 2 << "\"{target}\" already exists; add --force to replace it.";
    QTest::newRow("odd names in the message")
        << "odd name" << "existing odd name" << QStringList{"--duration", "10", "--start", "1", "--end", "9", "{source}", "{target}"}
        << false << 2 << "\"{target}\" already exists; add --force to replace it.";
}

void ReliabilityTest::cutFailsCleanly()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(QStringList, args);
    QFETCH(bool, asUser);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    QString sourcePath = src_ + QStringLiteral("/source.vob");
    if (source == "directory")
        QVERIFY(QDir().mkpath(sourcePath));
    else if (source == "empty")
        sourcePath = copyMedia("empty.vob", "source.vob");
    else if (source == "random")
        sourcePath = copyMedia("random.bin", "source.vob");
    else if (source == "odd name")
        sourcePath = copyMedia("dvd.vob", QStringLiteral("it's a \"clip\" – Ärger ñ 日本.vob"));
    else
        sourcePath = copyMedia("dvd.vob", "source.vob");
    QVERIFY(!sourcePath.isEmpty());
    if (source == "unreadable")
        lock(sourcePath, 0);
    const QByteArray sourceBefore = QFileInfo(sourcePath).isFile() ? digest(sourcePath) : QByteArray();

    QString targetDir = out_;
    std::unique_ptr<SmallFileSystem> small;
    if (target.contains("full")) {
        targetDir = out_ + QStringLiteral("/small");
        QVERIFY(QDir().mkpath(targetDir));
        small = std::make_unique<SmallFileSystem>(targetDir, "512k");
        if (!small->mounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a small tmpfs to fill: %1").arg(small->error())));
    }
    QString targetPath = targetDir + QStringLiteral("/clip.vob");
    if (target == "existing odd name")
        targetPath = targetDir + QStringLiteral("/ein „Clip“ 'mit' Ümlaut ø – 片.vob");
    QByteArray targetBefore;
    if (target.startsWith("existing")) {
        // Most of the small file system, so that the clip cannot fit beside it.
        targetBefore = randomBytes(target.contains("full") ? 300 * 1024 : 64 * 1024, 7);
        QVERIFY(writeFile(targetPath, targetBefore));
        QVERIFY(::chmod(path8(targetPath).constData(), 0666) == 0);
    } else if (target == "symlink to source") {
        QVERIFY(QFile::link(sourcePath, targetPath));
    } else if (target == "hard link to source") {
        QVERIFY(::link(path8(sourcePath).constData(), path8(targetPath).constData()) == 0);
    } else if (target == "dotdot to source") {
        targetPath = out_ + QStringLiteral("/../src/source.vob");
    } else if (target == "directory") {
        QVERIFY(QDir().mkpath(targetPath + QStringLiteral("/inside")));
    }
    if (target.contains("locked folder"))
        lock(targetDir, 0555);
    const QStringList before = entries(targetDir);
    const qint64 freeBefore = freeBlocks(targetDir);

    for (QString &arg : args)
        arg = fill(arg, sourcePath, targetPath);
    const CutRun run = runCut(args, asUser);

    QCOMPARE(run.crashed, false);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.stdErr.startsWith("morvane-cut: ") && run.stdErr.endsWith('\n') && run.stdErr.count('\n') == 1,
             qPrintable(run.stdErr));
    QVERIFY2(run.stdErr.contains(fill(message, sourcePath, targetPath)), qPrintable(run.stdErr));
    if (source == "random")
        QVERIFY2(run.stdErr.contains(QRegularExpression("cannot (be )?(play|read)", QRegularExpression::CaseInsensitiveOption)),
                 qPrintable(run.stdErr));

    if (!sourceBefore.isEmpty())
        QCOMPARE(digest(sourcePath), sourceBefore);
    QCOMPARE(entries(targetDir), before);
    if (!targetBefore.isEmpty())
        QCOMPARE(readFile(targetPath), targetBefore);
    else if (target == "directory")
        QCOMPARE(entries(targetPath), QStringList{"inside"});
    else if (!target.contains("source"))
        QVERIFY(!QFileInfo::exists(targetPath));
    if (small)
        QCOMPARE(freeBlocks(targetDir), freeBefore); // nothing hidden holds the space
}

void ReliabilityTest::cutCopiesExactly_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<QString>("targetName");
    QTest::addColumn<int>("d");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");

    QTest::newRow("names with spaces") << "dvd" << "my source file.vob" << "my new clip.vob" << 10 << 2 << 7;
    QTest::newRow("names with quotes") << "dvd" << "it's \"the\" source.vob" << "the 'clip' \"one\".vob" << 10 << 2 << 7;
    QTest::newRow("non-ASCII names") << "dvd" << "Ärger über Öl – ñandú.vob" << "Клип 日本語 ø.vob" << 10 << 2 << 7;
    QTest::newRow("names with # and %") << "dvd" << "#1 100% source.vob" << "#2 %20 clip?.vob" << 10 << 2 << 7;
    QTest::newRow("random bytes, duration given") << "random" << "random.bin" << "clip.bin" << 10 << 3 << 4;
    // 5 GiB of which 8 MiB hold data; the clip starts past 4 GiB.
    QTest::newRow("source over 4 GiB") << "sparse 5 GiB" << "big.vob" << "clip.vob" << 1000 << 900 << 901;
}

void ReliabilityTest::cutCopiesExactly()
{
    QFETCH(QString, source);
    QFETCH(QString, sourceName);
    QFETCH(QString, targetName);
    QFETCH(int, d);
    QFETCH(int, start);
    QFETCH(int, end);

    QString sourcePath;
    if (source == "sparse 5 GiB") {
        sourcePath = src_ + QLatin1Char('/') + sourceName;
        const qint64 length = 5 * GiB;
        const Span span = clipSpan(length, d, start, end);
        QVERIFY(span.offset > 4 * GiB && span.length < 8 * MiB - 2 * MiB);
        QVERIFY(makeSparse(sourcePath, length, {{span.offset - MiB, randomBytes(8 * MiB, 11)}}));
    } else {
        sourcePath = copyMedia(source == "dvd" ? "dvd.vob" : "random.bin", sourceName);
    }
    QVERIFY(!sourcePath.isEmpty());
    const QString targetPath = out_ + QLatin1Char('/') + targetName;
    const qint64 length = QFileInfo(sourcePath).size();
    const Span span = clipSpan(length, d, start, end);
    const QByteArray expected = readRange(sourcePath, span.offset, span.length);
    QCOMPARE(expected.size(), span.length);

    const CutRun run = runCut({"--duration", QString::number(d), "--start", QString::number(start), "--end",
                               QString::number(end), sourcePath, targetPath},
                              false);
    QCOMPARE(run.stdErr, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(entries(out_), QStringList{targetName});
    QVERIFY(readFile(targetPath) == expected);
    QCOMPARE(QFileInfo(sourcePath).size(), length);
}

void ReliabilityTest::cutFaultMidway_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("existingTarget");
    QTest::addColumn<int>("exitCode"); // -1: killed
    QTest::addColumn<QString>("message");

    QTest::newRow("SIGKILL, new target") << "SIGKILL" << false << -1 << QString();
    QTest::newRow("SIGKILL, existing target") << "SIGKILL" << true << -1 << QString();
    QTest::newRow("SIGTERM, existing target") << "SIGTERM" << true << 130 << "interrupted; no clip was written.";
    QTest::newRow("source truncated") << "truncate" << true << 1
                                      << "The source file got shorter while it was being read.";
    // The open source outlives its name: the clip comes out whole.
    QTest::newRow("source deleted") << "delete" << false << 0 << QString();
}

void ReliabilityTest::cutFaultMidway()
{
    QFETCH(QString, fault);
    QFETCH(bool, existingTarget);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    // Holes cost no disk; the clip stops after its first piece, except where
    // it must finish, which a smaller clip keeps short.
    const bool finishes = fault == "delete";
    const qint64 sourceLength = finishes ? 256 * MiB : 4 * GiB;
    const int d = finishes ? 2 : 4;
    const int end = finishes ? 1 : 3;
    const QString sourcePath = src_ + QStringLiteral("/big source.vob");
    QVERIFY(makeSparse(sourcePath, sourceLength,
                       {{0, randomBytes(2 * MiB, 3)}, {sourceLength / 2 - MiB, randomBytes(2 * MiB, 4)}}));
    const Span span = clipSpan(sourceLength, d, 0, end);
    const QByteArray expected = finishes ? digest(sourcePath, span.offset, span.length) : QByteArray();
    const QString targetPath = out_ + QStringLiteral("/clip.vob");
    const QByteArray old = randomBytes(100'000, 5);
    if (existingTarget)
        QVERIFY(writeFile(targetPath, old));
    const QStringList before = entries(out_);

    QProcess process;
    prepareCut(process, false);
    process.setArguments({"--force", "--duration", QString::number(d), "--start", "0", "--end", QString::number(end),
                          sourcePath, targetPath});
    process.start();
    QVERIFY(process.waitForStarted());
    const qint64 pid = process.processId();

    // Stop the cut with its clip begun, so the fault lands mid-cut for sure.
    qint64 written = -1;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20'000 && written <= 0) {
        written = clipBytesUnder(pid, out_);
        if (written <= 0)
            QThread::usleep(100);
    }
    QVERIFY2(written > 0, "the cut never began writing its clip");
    QVERIFY(::kill(pid, SIGSTOP) == 0);
    QVERIFY(waitUntilStopped(pid));
    written = clipBytesUnder(pid, out_);
    QVERIFY2(written > 0 && written < span.length,
             qPrintable(QStringLiteral("stopped at %1 of %2 bytes").arg(written).arg(span.length)));

    if (fault == "SIGKILL") {
        QVERIFY(::kill(pid, SIGKILL) == 0);
    } else if (fault == "SIGTERM") {
        QVERIFY(::kill(pid, SIGTERM) == 0);
    } else if (fault == "truncate") {
        QVERIFY(::truncate(path8(sourcePath).constData(), written) == 0);
    } else if (fault == "delete") {
        QVERIFY(QFile::remove(sourcePath));
    }
    ::kill(pid, SIGCONT);
    QVERIFY(process.waitForFinished(60'000));
    const QString stdErr = QString::fromUtf8(process.readAllStandardError());

    if (exitCode < 0) {
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    } else {
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        QCOMPARE(stdErr, message.isEmpty() ? QString() : "morvane-cut: " + message + "\n");
    }
    if (finishes) {
        QCOMPARE(QFileInfo(targetPath).size(), span.length);
        QVERIFY(digest(targetPath) == expected);
        QCOMPARE(entries(out_), QStringList{"clip.vob"});
    } else {
        QCOMPARE(entries(out_), before);
        if (existingTarget)
            QVERIFY(readFile(targetPath) == old);
        else
            QVERIFY(!QFileInfo::exists(targetPath));
    }
}

// ---- the window ------------------------------------------------------------

void ReliabilityTest::windowOpenRefuses_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("directory") << "directory";
    QTest::newRow("empty file") << "empty.vob";
    QTest::newRow("random bytes") << "random.bin";
    QTest::newRow("deleted before Open") << "missing";
}

void ReliabilityTest::windowOpenRefuses()
{
    QFETCH(QString, source);
    QString path = src_ + QStringLiteral("/source.vob");
    if (source == "directory")
        QVERIFY(QDir().mkpath(path));
    else if (source != "missing")
        path = copyMedia(source, "source.vob");
    const QByteArray before = QFileInfo(path).isFile() ? readFile(path) : QByteArray();

    Window window;
    window.open(path);

    QCOMPARE(window.dialogs.messages.size(), 1);
    const QString text = window.dialogs.messages.first();
    QVERIFY2(text.contains("\"" + path + "\"")
                 && text.contains(QRegularExpression("cannot (be )?play", QRegularExpression::CaseInsensitiveOption)),
             qPrintable(text));
    QVERIFY(!window.form->state.fileOpen());
    if (QFileInfo(path).isFile())
        QCOMPARE(readFile(path), before);
    QCOMPARE(entries(src_), source == "missing" ? QStringList() : QStringList{"source.vob"});
}

void ReliabilityTest::windowSaveFails_data()
{
    QTest::addColumn<QString>("sourceFault"); // after Open, before Save
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");     // {source} and {target} stand for the paths

    QTest::newRow("source deleted") << "delete" << "new"
                                    << "The clip was not saved.\nThe source file \"{source}\" cannot be opened: No such file or directory.";
    QTest::newRow("source emptied") << "empty" << "existing"
                                    << "The clip was not saved.\nThe source has fewer bytes (0) than its duration has seconds";
    QTest::newRow("directory as target") << "" << "directory"
                                         << "The clip was not saved.\nThe clip cannot be created as \"{target}\"";
    QTest::newRow("full file system, new target") << "" << "full"
                                                  << "The clip was not saved.\nWriting the clip failed: No space left on device.";
    QTest::newRow("full file system, existing target") << "" << "existing on full"
                                                       << "The clip was not saved.\nWriting the clip failed: No space left on device.";
    QTest::newRow("source as target, symbolic link") << "" << "symlink to source" << "Cannot overwrite file in use...";
    QTest::newRow("source as target, hard link") << "" << "hard link to source" << "Cannot overwrite file in use...";
    QTest::newRow("source as target, by ..") << "" << "dotdot to source" << "Cannot overwrite file in use...";
}

void ReliabilityTest::windowSaveFails()
{
    QFETCH(QString, sourceFault);
    QFETCH(QString, target);
    QFETCH(QString, message);

    // An odd name, so that the messages are seen to carry it intact.
    const QString sourceName = QStringLiteral("Ärger \"über\" 'Öl' #1.vob");
    const QString sourcePath = copyMedia("dvd.vob", sourceName);
    QVERIFY(!sourcePath.isEmpty());
    const QByteArray sourceBytes = readFile(sourcePath);

    QString targetDir = out_;
    std::unique_ptr<SmallFileSystem> small;
    if (target.contains("full")) {
        targetDir = out_ + QStringLiteral("/small");
        QVERIFY(QDir().mkpath(targetDir));
        // The clip of 80 % of a 1.3 MB title cannot fit.
        small = std::make_unique<SmallFileSystem>(targetDir, "512k");
        if (!small->mounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a small tmpfs to fill: %1").arg(small->error())));
    }
    QString targetPath = targetDir + QStringLiteral("/clip.vob");
    QByteArray targetBefore;
    if (target.startsWith("existing")) {
        targetBefore = randomBytes(target.contains("full") ? 300 * 1024 : 64 * 1024, 9);
        QVERIFY(writeFile(targetPath, targetBefore));
    } else if (target == "symlink to source") {
        QVERIFY(QFile::link(sourcePath, targetPath));
    } else if (target == "hard link to source") {
        QVERIFY(::link(path8(sourcePath).constData(), path8(targetPath).constData()) == 0);
    } else if (target == "dotdot to source") {
        targetPath = out_ + QStringLiteral("/../src/") + sourceName;
    } else if (target == "directory") {
        QVERIFY(QDir().mkpath(targetPath + QStringLiteral("/inside")));
    }
    const QStringList before = entries(targetDir);
    const qint64 freeBefore = freeBlocks(targetDir);

    Window window;
    window.open(sourcePath);
    QVERIFY2(window.form->state.fileOpen(), qPrintable(window.dialogs.messages.join('\n')));
    if (sourceFault == "delete")
        QVERIFY(QFile::remove(sourcePath));
    else if (sourceFault == "empty")
        QVERIFY(::truncate(path8(sourcePath).constData(), 0) == 0);
    window.save(targetPath, 1, 9);

    QCOMPARE(window.dialogs.messages, QStringList{window.dialogs.messages.value(0)});
    const QString expected = fill(message, sourcePath, targetPath);
    QVERIFY2(window.dialogs.messages.value(0).startsWith(expected), qPrintable(window.dialogs.messages.value(0)));
    // Only something that exists under another name is asked about.
    QCOMPARE(window.dialogs.questions.size(), !targetBefore.isEmpty() || target == "directory" ? 1 : 0);
    QVERIFY(window.form->Command7->isEnabled());

    if (sourceFault.isEmpty())
        QCOMPARE(readFile(sourcePath), sourceBytes);
    QCOMPARE(entries(targetDir), before);
    if (!targetBefore.isEmpty())
        QCOMPARE(readFile(targetPath), targetBefore);
    else if (target == "directory")
        QCOMPARE(entries(targetPath), QStringList{"inside"});
    else if (!target.contains("source"))
        QVERIFY(!QFileInfo::exists(targetPath));
    if (small)
        QCOMPARE(freeBlocks(targetDir), freeBefore);
}

void ReliabilityTest::windowSavesOddNames_data()
{
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<QString>("targetName");
    QTest::newRow("spaces") << "my source file.vob" << "my new clip.vob";
    QTest::newRow("quotes") << "it's \"the\" source.vob" << "the 'clip' \"one\".vob";
    QTest::newRow("non-ASCII") << "Ärger über Öl – ñandú.vob" << "Клип 日本語 ø.vob";
    QTest::newRow("# and %") << "#1 100% source.vob" << "#2 %20 clip?.vob";
}

void ReliabilityTest::windowSavesOddNames()
{
    QFETCH(QString, sourceName);
    QFETCH(QString, targetName);
    const QString sourcePath = copyMedia("dvd.vob", sourceName);
    QVERIFY(!sourcePath.isEmpty());
    const QString targetPath = out_ + QLatin1Char('/') + targetName;

    Window window;
    window.open(sourcePath);
    QVERIFY2(window.form->state.fileOpen(), qPrintable(window.dialogs.messages.join('\n')));
    QCOMPARE(window.form->state.SourceFile, sourcePath);
    const int d = window.durationSeconds();
    window.save(targetPath, 2, 7);

    QCOMPARE(window.dialogs.messages, QStringList{"Clip Saved"});
    QCOMPARE(entries(out_), QStringList{targetName});
    const QByteArray source = readFile(sourcePath);
    const Span span = clipSpan(source.size(), d, 2, 7);
    QVERIFY(readFile(targetPath) == source.mid(span.offset, span.length));
}

void ReliabilityTest::windowFaultDuringSave_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("existingTarget");
    QTest::addColumn<QString>("message");
    QTest::newRow("window closed, new target") << "close" << false << QString();
    QTest::newRow("window closed, existing target") << "close" << true << QString();
    QTest::newRow("source truncated")
        << "truncate" << true << "The clip was not saved.\nThe source file got shorter while it was being read.";
}

void ReliabilityTest::windowFaultDuringSave()
{
    QFETCH(QString, fault);
    QFETCH(bool, existingTarget);
    QFETCH(QString, message);

    const QString sourcePath = copyMedia("dvd.vob", "source.vob");
    QVERIFY(!sourcePath.isEmpty());
    const QString targetPath = out_ + QStringLiteral("/clip.vob");
    const QByteArray old = randomBytes(100'000, 13);
    if (existingTarget)
        QVERIFY(writeFile(targetPath, old));
    const QStringList before = entries(out_);

    Window window;
    window.open(sourcePath);
    QVERIFY2(window.form->state.fileOpen(), qPrintable(window.dialogs.messages.join('\n')));
    const int d = window.durationSeconds();
    window.click(window.form->Command2); // stopped, so the player reads nothing more
    // Grown past 4 GiB by a hole after the player measured it: a clip of
    // gigabytes, long enough to be caught midway.
    const qint64 length = 5 * GiB;
    QVERIFY(::truncate(path8(sourcePath).constData(), length) == 0);

    bool struck = false;
    qint64 written = -1;
    QTimer watch;
    watch.setInterval(1);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (struck)
            return;
        written = clipBytesUnder(::getpid(), out_);
        if (written <= 0)
            return;
        struck = true;
        if (fault == "close")
            window.form->close();
        else
            ::truncate(path8(sourcePath).constData(), written);
    });
    watch.start();
    window.save(targetPath, 1, 9);
    watch.stop();

    QVERIFY2(struck, "the save ended before the fault");
    QVERIFY(written < clipSpan(length, d, 1, 9).length);
    QVERIFY2(!window.dialogs.messages.contains("Clip Saved"), qPrintable(window.dialogs.messages.join('\n')));
    QCOMPARE(window.dialogs.messages, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(entries(out_), before);
    if (existingTarget)
        QVERIFY(readFile(targetPath) == old);
    else
        QVERIFY(!QFileInfo::exists(targetPath));
}

void ReliabilityTest::windowAsUser_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::newRow("no read permission at Open") << "unreadable at open" << "";
    QTest::newRow("read permission taken before Save")
        << "unreadable at save"
        << "The clip was not saved.\nThe source file \"{source}\" cannot be opened: Permission denied.";
    QTest::newRow("folder without write permission, new target")
        << "locked folder" << "The clip was not saved.\nThe clip cannot be created as \"{target}\"";
    QTest::newRow("folder without write permission, writable target")
        << "existing in locked folder" << "The clip was not saved.\nThe clip cannot be created as \"{target}\"";
}

void ReliabilityTest::windowAsUser()
{
    if (runRowAsUser())
        return;
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QVERIFY2(::geteuid() != 0, "permission bits bind only a user who is not root");

    const QString sourcePath = copyMedia("dvd.vob", "source.vob");
    QVERIFY(!sourcePath.isEmpty());
    const QByteArray sourceBytes = readFile(sourcePath);
    const QString targetPath = out_ + QStringLiteral("/clip.vob");
    const QByteArray old = randomBytes(64 * 1024, 17);
    if (fault.startsWith("existing")) {
        QVERIFY(writeFile(targetPath, old));
        QVERIFY(::chmod(path8(targetPath).constData(), 0666) == 0);
    }
    if (fault.contains("locked folder"))
        lock(out_, 0555);
    if (fault == "unreadable at open")
        lock(sourcePath, 0);
    const QStringList before = entries(out_);

    Window window;
    window.open(sourcePath);
    if (fault == "unreadable at open") {
        QCOMPARE(window.dialogs.messages.size(), 1);
        const QString text = window.dialogs.messages.first();
        QVERIFY2(text.contains("\"" + sourcePath + "\"")
                     && text.contains(QRegularExpression("cannot (be )?play", QRegularExpression::CaseInsensitiveOption)),
                 qPrintable(text));
        QVERIFY(!window.form->state.fileOpen());
    } else {
        QVERIFY2(window.form->state.fileOpen(), qPrintable(window.dialogs.messages.join('\n')));
        if (fault == "unreadable at save")
            lock(sourcePath, 0);
        window.save(targetPath, 1, 9);
        QCOMPARE(window.dialogs.messages.size(), 1);
        QVERIFY2(window.dialogs.messages.first().startsWith(fill(message, sourcePath, targetPath)),
                 qPrintable(window.dialogs.messages.first()));
    }

    ::chmod(path8(sourcePath).constData(), 0644);
    QCOMPARE(readFile(sourcePath), sourceBytes);
    QCOMPARE(entries(out_), before);
    if (fault.startsWith("existing"))
        QVERIFY(readFile(targetPath) == old);
    else
        QVERIFY(!QFileInfo::exists(targetPath));
}

QTEST_MAIN(ReliabilityTest)
#include "tst_reliability.moc"
