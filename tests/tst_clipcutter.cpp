#include "files/engine/ClipCutter.h"

#include <QtTest>

#include <algorithm>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace morvane;

namespace {

class RecordingProgress : public ProgressSink {
public:
    void setMaximum(std::int64_t maximum) override { this->maximum = maximum; }
    void setValue(std::int64_t value) override { values.push_back(value); }
    std::int64_t maximum = -1;
    std::vector<std::int64_t> values;
};

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char &b : bytes)
        b = static_cast<char>(generator.bounded(256));
    return bytes;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList listing(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The clip as the block loop makes it: 4097-byte blocks read at 1-based
// positions S, S + 4096, ... while p <= E, each written at p - S; a start of
// 0 reads from the first byte instead, and no block reads past the end.
struct ModelClip {
    bool refused = false;
    QByteArray bytes;
    std::int64_t progressMaximum = 0;
    std::int64_t progressFinal = 0;
};

ModelClip modelClip(const QByteArray &source, int d, int start, int end)
{
    ModelClip clip;
    const std::int64_t r = d > 0 ? source.size() / d : 0;
    const std::int64_t s = r * start, e = r * end;
    const std::int64_t first = std::max<std::int64_t>(s, 1);
    if (d <= 0 || start < 0 || start >= end || r == 0 || first > source.size()) {
        clip.refused = true;
        return clip;
    }
    for (std::int64_t p = s; p <= e; p += 4096) {
        const std::int64_t from = p - s + first - 1;
        const QByteArray block = source.mid(from, 4097);
        clip.progressFinal += 4096;
        if (block.isEmpty())
            continue;
        clip.bytes.resize(std::max<qsizetype>(clip.bytes.size(), p - s + block.size()));
        std::copy(block.begin(), block.end(), clip.bytes.begin() + (p - s));
    }
    clip.progressMaximum = e - s + 4097;
    return clip;
}

struct Outcome {
    QString what;
    bool started = false;
};

Outcome attempt(ClipCutter &cutter, const CutRequest &request)
{
    Outcome outcome{"the cut succeeded"};
    try {
        cutter.cut(request);
    } catch (const CutCancelled &e) {
        outcome.what = QStringLiteral("[cancelled] ") + e.what();
    } catch (const CutError &e) {
        outcome.what = e.what();
    }
    outcome.started = cutter.started();
    return outcome;
}

// Permission bits do not stop root, so root makes the attempt in a child
// that has given up root for nobody.
Outcome attemptAsNobody(ClipCutter &cutter, const CutRequest &request)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return {"no pipe"};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(1);
        const Outcome outcome = attempt(cutter, request);
        const QByteArray report = (outcome.started ? "1" : "0") + outcome.what.toUtf8();
        ::_exit(::write(channel[1], report.constData(), report.size()) == report.size() ? 0 : 1);
    }
    ::close(channel[1]);
    QFile reader;
    QByteArray report;
    if (reader.open(channel[0], QIODevice::ReadOnly, QFile::AutoCloseHandle))
        report = reader.readAll();
    ::waitpid(child, nullptr, 0);
    if (report.isEmpty())
        return {"the child could not give up root"};
    return {QString::fromUtf8(report.mid(1)), report.at(0) == '1'};
}

enum Failure {
    UnreadableSource, MissingSource, SourceIsFolder, MissingTargetFolder, ReadOnlyTargetFolder,
    ZeroDuration, ZeroRate, StartPastEnd, SymlinkToSource, HardLinkToSource, SourceAsItsOwnTarget,
    WriteFailsPartWay, CancelPartWay, SourceTruncated,
};

} // namespace

class ClipCutterTest : public QObject {
    Q_OBJECT
private slots:
    void plan_data();
    void plan();
    void cutMatchesModel_data();
    void cutMatchesModel();
    void sparseSourceBeyond4GiB_data();
    void sparseSourceBeyond4GiB();
    void failureLeavesNothing_data();
    void failureLeavesNothing();
};

void ClipCutterTest::plan_data()
{
    QTest::addColumn<qint64>("sourceLength");
    QTest::addColumn<int>("d");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<qint64>("progressMaximum");
    QTest::addColumn<qint64>("progressFinal");
    QTest::newRow("worked example") << 10'000'000LL << 100 << 1 << 10 << 99'999LL << 901'121LL << 904'097LL << 901'120LL;
    QTest::newRow("E - S below one step") << 4'000LL << 4 << 1 << 2 << 999LL << 3'001LL << 5'097LL << 4'096LL;
    QTest::newRow("E - S below one step, long source") << 400'000LL << 100 << 1 << 2 << 3'999LL << 4'097LL << 8'097LL << 4'096LL;
    QTest::newRow("E - S exactly one step") << 409'600LL << 100 << 1 << 2 << 4'095LL << 8'193LL << 8'193LL << 8'192LL;
    QTest::newRow("start 0 from the first byte") << 409'600LL << 100 << 0 << 1 << 0LL << 8'193LL << 8'193LL << 8'192LL;
    QTest::newRow("end at the source's end") << 10'000'000LL << 100 << 99 << 100 << 9'899'999LL << 100'001LL << 104'097LL << 102'400LL;
    QTest::newRow("end past the source's end") << 10'000'000LL << 100 << 90 << 200 << 8'999'999LL << 1'000'001LL << 11'004'097LL << 11'001'856LL;
    QTest::newRow("5 GiB source") << 5'368'709'120LL << 5'000 << 4'500 << 4'501 << 4'831'834'499LL << 1'077'249LL << 1'077'838LL << 1'077'248LL;
}

void ClipCutterTest::plan()
{
    QFETCH(qint64, sourceLength);
    QFETCH(int, d);
    QFETCH(int, start);
    QFETCH(int, end);
    const ClipPlan plan = planClip(sourceLength, d, start, end);
    QTEST(qint64(plan.offset), "offset");
    QTEST(qint64(plan.length), "length");
    QTEST(qint64(plan.progressMaximum), "progressMaximum");
    QTEST(qint64(plan.progressFinal), "progressFinal");
}

void ClipCutterTest::cutMatchesModel_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("d");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("kernelCopy");
    QTest::newRow("worked example") << 10'000'000 << 100 << 1 << 10 << true;
    QTest::newRow("worked example, buffered") << 10'000'000 << 100 << 1 << 10 << false;
    QTest::newRow("last block past the end") << 10'000'000 << 100 << 99 << 100 << true;
    QTest::newRow("many pieces, buffered") << 10'000'000 << 10 << 1 << 9 << false;
    QTest::newRow("start 0") << 300'000 << 30 << 0 << 3 << true;
    QTest::newRow("source shorter than D") << 99 << 100 << 1 << 10 << true;
    QTest::newRow("start past the end") << 1'000 << 10 << 11 << 12 << true;

    QRandomGenerator generator(20240611);
    for (int i = 0; i < 120; ++i) {
        const int size = generator.bounded(1, 300'000);
        const int d = generator.bounded(1, 400);
        const int start = generator.bounded(0, d + 3);
        const int end = start + generator.bounded(1, d + 1);
        QTest::addRow("random %d: %d bytes, D %d, %d-%d", i, size, d, start, end)
            << size << d << start << end << (i % 3 != 0);
    }
}

void ClipCutterTest::cutMatchesModel()
{
    QFETCH(int, size);
    QFETCH(int, d);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(bool, kernelCopy);
    QTemporaryDir dir;
    const QString source = dir.filePath("source.vob"), target = dir.filePath("clip.vob");
    const QByteArray bytes = randomBytes(size, static_cast<quint32>(size ^ d));
    writeFile(source, bytes);
    // An existing target longer than any clip: nothing of it may survive.
    if (kernelCopy)
        writeFile(target, QByteArray(11'000'000, 'x'));
    const QByteArray before = readFile(target);

    const ModelClip model = modelClip(bytes, d, start, end);
    RecordingProgress progress;
    int events = 0;
    ClipCutter cutter(progress, [&] { ++events; });
    cutter.useKernelCopy = kernelCopy;
    const CutRequest request{source, target, d, start, end};
    if (model.refused) {
        QVERIFY_THROWS_EXCEPTION(CutError, cutter.cut(request));
        QVERIFY(!cutter.started());
        QCOMPARE(readFile(target), before);
        return;
    }
    cutter.cut(request);
    QVERIFY(cutter.started());
    QCOMPARE(readFile(target), model.bytes);
    QCOMPARE(progress.maximum, model.progressMaximum);
    QCOMPARE(progress.values.front(), 0);
    QCOMPARE(progress.values.back(), model.progressFinal);
    QVERIFY(std::is_sorted(progress.values.begin(), progress.values.end()));
    QVERIFY(events >= 1);
    QCOMPARE(listing(dir.path()), QStringList({"clip.vob", "source.vob"}));
}

void ClipCutterTest::sparseSourceBeyond4GiB_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::newRow("second before last") << 4'998 << 4'999;
    QTest::newRow("up to the source's end") << 4'999 << 5'000;
}

// Marker bytes at the clip's edges in a sparse file of about 5 GiB: the
// clip must come from there, not from offsets wrapped at 32 bits.
void ClipCutterTest::sparseSourceBeyond4GiB()
{
    QFETCH(int, start);
    QFETCH(int, end);
    QTemporaryDir dir;
    const QString source = dir.filePath("big.vob"), target = dir.filePath("clip.vob");
    const qint64 size = (5LL << 30) + 4'321;
    const ClipPlan plan = planClip(size, 5'000, start, end);
    const qint64 last = qint64(plan.offset + plan.length - 1);
    {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
        for (const qint64 at : {qint64(plan.offset - 1), qint64(plan.offset), qint64(plan.offset + 4'096), last, size - 1}) {
            QVERIFY(file.seek(at));
            QVERIFY(file.putChar(static_cast<char>('A' + at % 26)));
        }
    }
    RecordingProgress progress;
    ClipCutter cutter(progress, [] {});
    cutter.cut({source, target, 5'000, start, end});

    const QByteArray clip = readFile(target);
    QCOMPARE(clip.size(), plan.length);
    QVERIFY(plan.offset > (4LL << 30));
    QCOMPARE(clip.at(0), static_cast<char>('A' + plan.offset % 26));
    QCOMPARE(clip.at(4'096), static_cast<char>('A' + (plan.offset + 4'096) % 26));
    QCOMPARE(clip.back(), static_cast<char>('A' + last % 26));
    QCOMPARE(clip.size() - clip.count('\0'), 3); // the byte before the clip stays out
    QCOMPARE(end == 5'000, last == size - 1);
}

void ClipCutterTest::failureLeavesNothing_data()
{
    QTest::addColumn<int>("failure");
    QTest::addColumn<bool>("existingTarget");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("started");
    QTest::newRow("unreadable source") << int(UnreadableSource) << false << "Permission denied" << false;
    QTest::newRow("missing source") << int(MissingSource) << true << "No such file" << false;
    QTest::newRow("source is a folder") << int(SourceIsFolder) << true << "not a regular file" << false;
    QTest::newRow("missing target folder") << int(MissingTargetFolder) << false << "No such file" << false;
    QTest::newRow("read-only target folder") << int(ReadOnlyTargetFolder) << false << "Permission denied" << false;
    QTest::newRow("D = 0") << int(ZeroDuration) << true << "duration is 0" << false;
    QTest::newRow("R = 0") << int(ZeroRate) << false << "no byte rate" << false;
    QTest::newRow("start past the end") << int(StartPastEnd) << true << "beyond the end" << false;
    QTest::newRow("symlink to the source") << int(SymlinkToSource) << false << "source file itself" << false;
    QTest::newRow("hard link to the source") << int(HardLinkToSource) << false << "source file itself" << false;
    QTest::newRow("the source itself") << int(SourceAsItsOwnTarget) << false << "source file itself" << false;
    QTest::newRow("write fails, new target") << int(WriteFailsPartWay) << false << "disk on fire" << true;
    QTest::newRow("write fails, existing target") << int(WriteFailsPartWay) << true << "disk on fire" << true;
    QTest::newRow("cancel, new target") << int(CancelPartWay) << false << "cancelled" << true;
    QTest::newRow("cancel, existing target") << int(CancelPartWay) << true << "cancelled" << true;
    QTest::newRow("source truncated, new target") << int(SourceTruncated) << false << "got shorter" << true;
    QTest::newRow("source truncated, existing target") << int(SourceTruncated) << true << "got shorter" << true;
}

void ClipCutterTest::failureLeavesNothing()
{
    QFETCH(int, failure);
    QFETCH(bool, existingTarget);
    QFETCH(QString, reason);
    QFETCH(bool, started);
    QTemporaryDir dir;
    const bool asNobody = ::geteuid() == 0 && (failure == UnreadableSource || failure == ReadOnlyTargetFolder);
    if (asNobody)
        QVERIFY(QFile::setPermissions(dir.path(), QFile::Permissions(0x7555)));
    QVERIFY(QDir(dir.path()).mkdir("out"));
    QString source = dir.filePath("source.vob"), target = dir.filePath("out/clip.vob");
    const QByteArray bytes = randomBytes(8 << 20, 7);
    writeFile(source, bytes);
    int d = 8, start = 1, end = 7; // a clip of several steps
    if (existingTarget)
        writeFile(target, "an earlier clip");

    RecordingProgress progress;
    std::function<void()> onEvents = [] {};
    ClipCutter cutter(progress, [&] { onEvents(); });
    switch (Failure(failure)) {
    case UnreadableSource: QVERIFY(QFile::setPermissions(source, {})); break;
    case MissingSource: source = dir.filePath("gone.vob"); break;
    case SourceIsFolder: source = dir.filePath("out"); break;
    case MissingTargetFolder: target = dir.filePath("nowhere/clip.vob"); break;
    case ReadOnlyTargetFolder: QVERIFY(QFile::setPermissions(dir.filePath("out"), QFile::Permissions(0x5555))); break;
    case ZeroDuration: d = 0; break;
    case ZeroRate: d = bytes.size() + 1; break;
    case StartPastEnd: start = 9, end = 10; break;
    case SymlinkToSource: QVERIFY(QFile::link(source, target)); break;
    case HardLinkToSource: QCOMPARE(::link(qPrintable(source), qPrintable(target)), 0); break;
    case SourceAsItsOwnTarget: target = dir.filePath("out/../source.vob"); break;
    case WriteFailsPartWay:
        cutter.beforeWrite = [](std::int64_t written) {
            if (written > 0)
                throw std::runtime_error("disk on fire");
        };
        break;
    case CancelPartWay:
        // Slow writes make the first step end with most of the clip to go.
        cutter.beforeWrite = [](std::int64_t) { QThread::msleep(4); };
        onEvents = [&] { cutter.cancel(); };
        break;
    case SourceTruncated:
        cutter.beforeWrite = [&](std::int64_t written) {
            if (written > 0)
                QFile::resize(source, 2 << 20);
        };
        break;
    }
    const QStringList before = listing(dir.path()) + listing(dir.filePath("out"));
    const QByteArray targetBefore = readFile(target);

    const CutRequest request{source, target, d, start, end};
    const Outcome outcome = asNobody ? attemptAsNobody(cutter, request) : attempt(cutter, request);
    QVERIFY2(outcome.what.contains(reason), qPrintable(outcome.what));
    QCOMPARE(outcome.what.startsWith("[cancelled]"), failure == CancelPartWay);
    QCOMPARE(outcome.started, started);
    if (failure == CancelPartWay)
        QVERIFY(progress.values.back() < progress.maximum / 2);
    QCOMPARE(listing(dir.path()) + listing(dir.filePath("out")), before);
    QCOMPARE(readFile(target), targetBefore);
    if (failure != SourceTruncated)
        QCOMPARE(readFile(dir.filePath("source.vob")), bytes);
}

QTEST_GUILESS_MAIN(ClipCutterTest)
#include "tst_clipcutter.moc"
