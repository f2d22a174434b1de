#include "files/engine/ClipCutter.h"

#include "files/engine/Fd.h"
#include "files/engine/FileName.h"
#include "files/engine/Writeback.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace morvane {

namespace {

using Clock = std::chrono::steady_clock;

// A step copies pieces and checks on writeback until its time is up, then
// events run; neither blocks for long, so with the caller's own event
// handling on top they still run within 50 ms of each other.
constexpr auto kStepTime = std::chrono::milliseconds(12);
// Pieces are sized to take about 2 ms, so a step overruns its time by little
// even when the disk suddenly slows down.
constexpr std::int64_t kPieceTimeNs = 2'000'000;
constexpr std::int64_t kFirstPiece = 1 << 20;
constexpr std::int64_t kMinPiece = 64 << 10;
constexpr std::int64_t kMaxPiece = 16 << 20;

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

struct OpenSource {
    Fd fd;
    struct stat status {};
};

// O_NONBLOCK keeps a FIFO named as source from hanging the open.
OpenSource openSource(const QByteArray &path)
{
    OpenSource source;
    if (path.contains('\0'))
        throw CutError("The source file " + quotedName(path) + " cannot be opened: " + errnoText(ENOENT) + ".");
    source.fd.reset(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!source.fd.valid())
        throw CutError("The source file " + quotedName(path) + " cannot be opened: " + errnoText(errno) + ".");
    if (::fstat(source.fd.get(), &source.status) != 0 || !S_ISREG(source.status.st_mode))
        throw CutError("The source " + quotedName(path) + " is not a regular file.");
    return source;
}

std::int64_t scaledProgress(const ClipPlan &plan, std::int64_t copied)
{
    const double share = static_cast<double>(copied) / static_cast<double>(plan.length);
    return std::min(plan.progressFinal, static_cast<std::int64_t>(share * static_cast<double>(plan.progressFinal)));
}

} // namespace

TargetState inspectTarget(const QByteArray &source, const QByteArray &target)
{
    const OpenSource opened = openSource(source);
    return examineTarget(target, opened.fd.get(), opened.status).exists ? TargetState::File : TargetState::Missing;
}

ClipCutter::ClipCutter(ProgressSink &progress, std::function<void()> letEventsRun)
    : progress_(progress), letEventsRun_(std::move(letEventsRun))
{
}

void ClipCutter::cut(const CutRequest &request)
{
    cancelRequested_ = false;
    const OpenSource source = openSource(request.source);
    const ClipPlan plan = planClip(source.status.st_size, request.durationSeconds,
                                   request.startSecond, request.endSecond);
    TargetClaim target(request.target, request.replace, source.fd.get(), source.status);
    progress_.setMaximum(plan.progressMaximum);
    progress_.setValue(0);
    copyClip(source.fd.get(), target.fd(), plan);
    target.commit(onCommitStep);
    progress_.setValue(plan.progressFinal);
}

void ClipCutter::copyClip(int sourceFd, int targetFd, const ClipPlan &plan)
{
    RangeCopier copier(sourceFd, targetFd, useKernelCopy, copyCalls);
    Writeback writeback(targetFd);
    PieceSizer pieces;
    std::int64_t copied = 0;
    // The next piece, no more than the disk may be left to flush.
    auto nextPiece = [&] {
        return std::min({pieces.next(), writeback.budget() / 2, plan.length - copied});
    };
    auto copyPiece = [&](std::int64_t piece) {
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
            const std::int64_t piece = nextPiece();
            if (piece > 0 && writeback.pending() + piece <= writeback.budget())
                copyPiece(piece);
            else
                writeback.waitSome();
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
