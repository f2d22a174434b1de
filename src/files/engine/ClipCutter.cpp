#include "files/engine/ClipCutter.h"

#include "files/engine/FileIdentity.h"
#include "files/engine/RangeCopier.h"
#include "files/engine/Writeback.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace morvane {

namespace {

using Clock = std::chrono::steady_clock;

// A step copies pieces and waits on writeback until its time is up, then
// events run; with the caller's own event handling on top, they still run
// well within 50 ms of each other.
constexpr auto kStepTime = std::chrono::milliseconds(12);
// Pieces are sized to take about 2 ms, so a step overruns its time by little
// even when the disk suddenly slows down.
constexpr std::int64_t kPieceTimeNs = 2'000'000;
constexpr std::int64_t kFirstPiece = 1 << 20;
constexpr std::int64_t kMinPiece = 64 << 10;
constexpr std::int64_t kMaxPiece = 16 << 20;
// Copied but not yet known to be on disk; past this the step waits instead
// of copying.
constexpr std::int64_t kUnflushedBudget = 64 << 20;
constexpr std::int64_t kWaitGranule = 1 << 20;

// Grows at most twofold per piece, so one fast spell cannot make the next
// piece run long.
class PieceSizer {
public:
    std::int64_t next() const { return next_; }

    void record(std::int64_t bytes, Clock::duration took)
    {
        const std::int64_t ns = std::max<std::int64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(took).count(), 1);
        const std::int64_t fitting = bytes * kPieceTimeNs / ns; // bytes <= kMaxPiece: no overflow
        next_ = std::max(kMinPiece, std::min({fitting, 2 * next_, kMaxPiece}));
    }

private:
    std::int64_t next_ = kFirstPiece;
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string quoted(const QString &path)
{
    return "\"" + path.toStdString() + "\"";
}

std::string errnoText(int error)
{
    return std::generic_category().message(error);
}

// O_NONBLOCK keeps a FIFO named as source from hanging the open.
int openSource(const QString &path, struct stat &status)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw CutError("The source file " + quoted(path) + " cannot be opened: " + errnoText(errno) + ".");
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        throw CutError("The source " + quoted(path) + " is not a regular file.");
    }
    return fd;
}

void refuseSourceAsTarget(const struct stat &source, const QString &target)
{
    if (sameFile(source, target))
        throw CutError("The target " + quoted(target) + " is the source file itself; the clip cannot overwrite its own source.");
}

std::int64_t scaledProgress(const ClipPlan &plan, std::int64_t copied)
{
    const double share = static_cast<double>(copied) / static_cast<double>(plan.length);
    return std::min(plan.progressFinal, static_cast<std::int64_t>(share * static_cast<double>(plan.progressFinal)));
}

// Makes the new name itself survive a crash, not only the bytes behind it.
void syncDirectoryOf(const QString &path)
{
    const QString dir = QFileInfo(QFileInfo(path).canonicalFilePath()).absolutePath();
    const FileDescriptor fd(::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        ::fsync(fd.get());
}

void commitDurably(QSaveFile &target)
{
    if (::fsync(target.handle()) != 0)
        throw CutError("The clip could not be flushed to disk: " + errnoText(errno) + ".");
    if (!target.commit())
        throw CutError("The clip could not be saved as " + quoted(target.fileName()) + ": "
                       + target.errorString().toStdString() + ".");
    syncDirectoryOf(target.fileName());
}

} // namespace

ClipCutter::ClipCutter(ProgressSink &progress, std::function<void()> letEventsRun)
    : progress_(progress), letEventsRun_(std::move(letEventsRun))
{
}

void ClipCutter::cut(const CutRequest &request)
{
    cancelRequested_ = false;
    struct stat sourceStatus {};
    const FileDescriptor source(openSource(request.source, sourceStatus));
    const ClipPlan plan = planClip(sourceStatus.st_size, request.durationSeconds,
                                   request.startSecond, request.endSecond);
    refuseSourceAsTarget(sourceStatus, request.target);

    // The clip grows in a temporary file beside the target (unnamed where the
    // file system allows); an error or a cancel drops it, and the target's
    // name only ever sees a whole clip.
    QSaveFile target(request.target);
    if (!target.open(QIODevice::WriteOnly))
        throw CutError("The clip cannot be created as " + quoted(request.target) + ": "
                       + target.errorString().toStdString() + ".");
    progress_.setMaximum(plan.progressMaximum);
    progress_.setValue(0);
    copyClip(source.get(), target.handle(), plan);
    commitDurably(target);
    progress_.setValue(plan.progressFinal);
}

void ClipCutter::copyClip(int sourceFd, int targetFd, const ClipPlan &plan)
{
    RangeCopier copier(sourceFd, targetFd, useKernelCopy);
    Writeback writeback(targetFd);
    PieceSizer pieces;
    std::int64_t copied = 0;
    auto copyPiece = [&] {
        const std::int64_t piece = std::min(pieces.next(), plan.length - copied);
        const auto began = Clock::now();
        announceWrite(copied);
        copier.copy(plan.offset + copied, copied, piece);
        writeback.start(piece);
        pieces.record(piece, Clock::now() - began);
        copied += piece;
    };
    auto unfinished = [&] { return copied < plan.length || writeback.pending() > 0; };

    while (unfinished()) {
        const auto deadline = Clock::now() + kStepTime;
        do {
            if (copied < plan.length && writeback.pending() < kUnflushedBudget)
                copyPiece();
            else
                writeback.waitSome(kWaitGranule);
        } while (unfinished() && Clock::now() < deadline);
        progress_.setValue(scaledProgress(plan, copied));
        runEvents();
    }
}

void ClipCutter::announceWrite(std::int64_t written)
{
    if (!beforeWrite)
        return;
    try {
        beforeWrite(written);
    } catch (const CutError &) {
        throw;
    } catch (const std::exception &e) {
        throw CutError(std::string("Writing the clip failed: ") + e.what());
    }
}

void ClipCutter::runEvents()
{
    if (letEventsRun_)
        letEventsRun_();
    if (cancelRequested_)
        throw CutCancelled();
}

} // namespace morvane
