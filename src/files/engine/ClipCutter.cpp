#include "files/engine/ClipCutter.h"

#include "files/engine/ByteSource.h"
#include "files/engine/Fd.h"
#include "files/engine/FileName.h"
#include "files/engine/PrecisePlan.h"
#include "files/engine/Writeback.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

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
        const std::int64_t ns =
            std::max<std::int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count(), 1);
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

} // namespace

// The sources of a cut, open for its whole length and read as one stream.
class SourceParts {
public:
    using Copiers = std::vector<std::unique_ptr<RangeCopier>>;

    explicit SourceParts(const QByteArrayList &names)
    {
        if (names.isEmpty())
            throw CutError("No source file was given.");
        std::vector<std::int64_t> sizes;
        for (const QByteArray &name : names) {
            parts_.push_back({name, openSource(name)});
            sizes.push_back(parts_.back().opened.status.st_size);
        }
        table_ = wholeParts(sizes);
    }

    std::int64_t size() const { return table_.size(); }
    const OpenSource &first() const { return parts_.front().opened; }

    // Each part is the source that the target may not be. The first is
    // checked where the target is examined or claimed against it.
    void refuseLaterPartsAsTarget(const QByteArray &target) const
    {
        for (std::size_t i = 1; i < parts_.size(); ++i)
            examineTarget(target, parts_[i].opened.fd.get(), parts_[i].opened.status);
    }

    std::unique_ptr<ByteSource> reader() const
    {
        std::vector<SourcePart> pieces;
        for (const Part &part : parts_)
            pieces.push_back({part.opened.fd.get(), part.opened.status.st_size, part.name.toStdString()});
        return std::make_unique<JoinedByteSource>(std::move(pieces), table_);
    }

    // Copies a range of the stream, a run at a time, each in the kernel where
    // it can be.
    void copy(Copiers &copiers, std::int64_t from, std::int64_t to, std::int64_t length) const
    {
        table_.visit(from, length, [&](const Extent &extent, std::int64_t at, std::int64_t piece) {
            copiers[extent.part]->copy(at, to, piece);
            to += piece;
        });
    }

    Copiers copiers(int targetFd, bool inKernel, const CopyCalls &calls) const
    {
        Copiers result;
        for (const Part &part : parts_)
            result.push_back(std::make_unique<RangeCopier>(part.opened.fd.get(), targetFd, inKernel, calls));
        return result;
    }

    // A part that changed size or left its name while it was read: the clip
    // would not be the range that was planned, or of the file the user named.
    void checkUnchanged() const
    {
        for (const Part &part : parts_) {
            struct stat now {
            }, named{};
            if (::fstat(part.opened.fd.get(), &now) != 0 || now.st_size != part.opened.status.st_size)
                throw CutError("The source " + quotedName(part.name) + " changed size while it was being read.");
            if (::stat(part.name.constData(), &named) != 0 || named.st_dev != now.st_dev || named.st_ino != now.st_ino)
                throw CutError("The source " + quotedName(part.name)
                               + " was moved or deleted while it was being read.");
        }
    }

private:
    struct Part {
        QByteArray name;
        OpenSource opened;
    };
    std::vector<Part> parts_;
    ExtentTable table_;
};

namespace {

// The precise plan in the byte-rate plan's terms: progress runs over the
// bytes themselves.
ClipPlan planPrecisely(const SourceParts &sources, const CutRequest &request, CutResult &result)
{
    const std::unique_ptr<ByteSource> reader = sources.reader();
    PreciseClip clip;
    try {
        clip = planPreciseClip(*reader, request.startSecond, request.endSecond);
    } catch (const PlanError &e) {
        throw CutError(e.what());
    } catch (const SourceReadError &e) {
        throw CutError(e.what());
    }
    result.startTime = clip.startTime;
    result.endTime = clip.endTime;
    ClipPlan plan;
    plan.offset = clip.offset;
    plan.length = clip.length;
    plan.progressMaximum = plan.progressFinal = clip.length;
    return plan;
}

// Both ways of cutting take the marks as checked here.
void checkMarks(const CutRequest &request)
{
    if (request.startSecond < 0 || request.endSecond < 0)
        throw CutError("The marks cannot be negative.");
    if (request.startSecond >= request.endSecond)
        throw CutError("The start mark must come before the end mark.");
}

std::int64_t scaledProgress(const ClipPlan &plan, std::int64_t copied)
{
    const double share = static_cast<double>(copied) / static_cast<double>(plan.length);
    return std::min(plan.progressFinal, static_cast<std::int64_t>(share * static_cast<double>(plan.progressFinal)));
}

} // namespace

TargetState inspectTarget(const QByteArrayList &sources, const QByteArray &target)
{
    const SourceParts parts(sources);
    parts.refuseLaterPartsAsTarget(target);
    return examineTarget(target, parts.first().fd.get(), parts.first().status).exists ? TargetState::File
                                                                                      : TargetState::Missing;
}

ClipCutter::ClipCutter(ProgressSink &progress, std::function<void()> letEventsRun)
    : progress_(progress), letEventsRun_(std::move(letEventsRun))
{
}

CutResult ClipCutter::cut(const CutRequest &request)
{
    cancelRequested_ = false;
    checkMarks(request);
    const SourceParts sources(request.sources);
    CutResult result{0, 0, double(request.startSecond), double(request.endSecond)};
    const ClipPlan plan = request.method == CutMethod::Precise ? planPrecisely(sources, request, result)
                                                               : planClip(sources.size(), request.durationSeconds,
                                                                          request.startSecond, request.endSecond);
    sources.refuseLaterPartsAsTarget(request.target);
    TargetClaim target(request.target, request.replace, sources.first().fd.get(), sources.first().status);
    progress_.setMaximum(plan.progressMaximum);
    progress_.setValue(0);
    copyClip(sources, target.fd(), plan);
    sources.checkUnchanged();
    target.commit(onCommitStep);
    progress_.setValue(plan.progressFinal);
    result.offset = plan.offset;
    result.length = plan.length;
    return result;
}

void ClipCutter::copyClip(const SourceParts &sources, int targetFd, const ClipPlan &plan)
{
    SourceParts::Copiers copiers = sources.copiers(targetFd, useKernelCopy, copyCalls);
    Writeback writeback(targetFd);
    PieceSizer pieces;
    std::int64_t copied = 0;
    // The next piece, no more than the disk may be left to flush.
    auto nextPiece = [&] { return std::min({pieces.next(), writeback.budget() / 2, plan.length - copied}); };
    auto copyPiece = [&](std::int64_t piece) {
        const auto began = Clock::now();
        announceWrite(copied);
        sources.copy(copiers, plan.offset + copied, copied, piece);
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
