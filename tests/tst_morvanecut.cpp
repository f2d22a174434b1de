#include "files/engine/ClipCutter.h"

#include <QtTest>

using namespace morvane;

namespace {

struct Run {
    int exitCode = -1;
    QString stdErr;
};

// {source} and {target} in args stand for the files of the run.
Run runCut(QStringList args, const QString &source, const QString &target)
{
    args.replaceInStrings("{source}", source);
    args.replaceInStrings("{target}", target);
    QProcess process;
    process.start(MORVANE_CUT_PATH, args);
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
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

QByteArray sourceBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(99);
    for (char &b : bytes)
        b = static_cast<char>(generator.bounded(256));
    return bytes;
}

} // namespace

class MorvaneCutTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { QFile::remove(dir_.filePath("clip.vob")); }
    void cuts_data();
    void cuts();
    void refuses_data();
    void refuses();
    void durationFromPlayer();

private:
    QTemporaryDir dir_;
    QByteArray source_;
    QString sourcePath_;
};

void MorvaneCutTest::initTestCase()
{
    source_ = sourceBytes(10'000'000);
    sourcePath_ = dir_.filePath("source.vob");
    QVERIFY(writeFile(sourcePath_, source_));
}

void MorvaneCutTest::cuts_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("d");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("existingTarget");
    const QStringList paths{"{source}", "{target}"};
    QTest::newRow("worked example")
        << QStringList{"--duration", "100", "--start", "1", "--end", "10"} + paths << 100 << 1 << 10 << false;
    QTest::newRow("--force replaces a longer target")
        << QStringList{"--force", "--duration", "100", "--start", "1", "--end", "10"} + paths << 100 << 1 << 10 << true;
    QTest::newRow("name=value, start 0")
        << QStringList{"--duration=30", "--start=0", "--end=3"} + paths << 30 << 0 << 3 << false;
    QTest::newRow("end past the source's end")
        << QStringList{"--duration", "100", "--start", "95", "--end", "200"} + paths << 100 << 95 << 200 << false;
    QTest::newRow("paths after --")
        << QStringList{"--duration", "7", "--start", "2", "--end", "3", "--"} + paths << 7 << 2 << 3 << false;
}

void MorvaneCutTest::cuts()
{
    QFETCH(QStringList, args);
    QFETCH(int, d);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(bool, existingTarget);
    const QString target = dir_.filePath("clip.vob");
    if (existingTarget)
        QVERIFY(writeFile(target, QByteArray(12'000'000, 'x')));

    const Run run = runCut(args, sourcePath_, target);
    QCOMPARE(run.stdErr, QString());
    QCOMPARE(run.exitCode, 0);
    const ClipPlan plan = planClip(source_.size(), d, start, end);
    QCOMPARE(readFile(target), source_.mid(plan.offset, plan.length));
}

void MorvaneCutTest::refuses_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QStringList paths{"{source}", "{target}"};
    const QStringList marks{"--start", "1", "--end", "10"};
    const QStringList d100{"--duration", "100"};
    QTest::newRow("no arguments") << QStringList{} << 2 << "--start and --end are required";
    QTest::newRow("no duration, not a video") << marks + QStringList{"--force"} + paths << 2 << "cannot read the duration";
    QTest::newRow("no target") << d100 + marks + QStringList{"{source}"} << 2 << "expected SOURCE and TARGET";
    QTest::newRow("option without value") << d100 + marks + paths + QStringList{"--end"} << 2 << "--end needs a value";
    QTest::newRow("unknown option") << d100 + marks + paths + QStringList{"--fast"} << 2 << "unknown option --fast";
    QTest::newRow("start equals end") << d100 + QStringList{"--start", "5", "--end", "5"} + paths << 2 << "must be less than the end";
    QTest::newRow("start after end") << d100 + QStringList{"--start", "6", "--end", "5"} + paths << 2 << "must be less than the end";
    QTest::newRow("negative start") << d100 + QStringList{"--start", "-1", "--end", "5"} + paths << 2 << "--start cannot be negative";
    QTest::newRow("negative duration") << QStringList{"--duration", "-100"} + marks + paths << 2 << "--duration cannot be negative";
    QTest::newRow("fraction") << d100 + QStringList{"--start", "1.5", "--end", "5"} + paths << 2 << "whole seconds";
    QTest::newRow("beyond 32 bits") << d100 + QStringList{"--start", "1", "--end", "2147483648"} + paths << 2 << "--end is too large";
    QTest::newRow("existing target") << d100 + marks + paths << 2 << "already exists; add --force";
    QTest::newRow("D = 0") << QStringList{"--duration", "0", "--force"} + marks + paths << 1 << "duration is 0";
    QTest::newRow("missing source") << d100 + marks + QStringList{"{source}.gone", "{target}", "--force"} << 1 << "No such file";
    QTest::newRow("source as target") << d100 + marks + QStringList{"--force", "{source}", "{source}"} << 1 << "source file itself";
}

void MorvaneCutTest::refuses()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const QString target = dir_.filePath("kept.vob");
    QVERIFY(writeFile(target, "an earlier clip"));

    const Run run = runCut(args, sourcePath_, target);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.stdErr.startsWith("morvane-cut: ") && run.stdErr.count('\n') == 1 && run.stdErr.endsWith('\n'),
             qPrintable(run.stdErr));
    QVERIFY2(run.stdErr.contains(message), qPrintable(run.stdErr));
    QCOMPARE(readFile(target), QByteArray("an earlier clip"));
    QCOMPARE(readFile(sourcePath_), source_);
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"kept.vob", "source.vob"}));
}

// Without --duration the player measures the source: a DVD title of just
// under 10 s cuts as with --duration 10.
void MorvaneCutTest::durationFromPlayer()
{
    const QString vob = QStringLiteral(MORVANE_TEST_MEDIA "/dvd.vob");
    const QByteArray source = readFile(vob);
    QVERIFY2(!source.isEmpty(), "test media missing");
    const QString target = dir_.filePath("clip.vob");
    const Run run = runCut({"--start", "2", "--end", "5", vob, target}, vob, target);
    QCOMPARE(run.stdErr, QString());
    QCOMPARE(run.exitCode, 0);
    const ClipPlan plan = planClip(source.size(), 10, 2, 5);
    QCOMPARE(readFile(target), source.mid(plan.offset, plan.length));
}

QTEST_GUILESS_MAIN(MorvaneCutTest)
#include "tst_morvanecut.moc"
