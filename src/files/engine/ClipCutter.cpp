#include "files/engine/ClipCutter.h"

#include "files/engine/ByteSource.h"
#include "files/engine/Fd.h"
#include "files/engine/FileName.h"
#include "files/engine/PrecisePlan.h"
#include "files/engine/TitleStream.h"
#include "files/engine/Writeback.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
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

    // The VOBs of the title set that holds a DVD title. With timeline, the
    // stream is the title's cells in play order.
    static SourceParts ofTitle(const QByteArrayList &names, int number, bool timeline)
    {
        if (names.isEmpty())
            throw CutError("No source file was given.");
        try {
            const Disc disc = openDisc(names.front());
            const DiscTitle &title = disc.title(number);
            const DiscTitleSet &set = disc.titleSet(title.titleSet);
            SourceParts parts(set.vobs);
            if (timeline) {
                const std::unique_ptr<ByteSource> vobSet = parts.reader();
                parts.timeline_ = std::make_shared<TitleTimeline>(title, set, *vobSet);
                parts.table_ = parts.timeline_->streamTable(parts.table_);
            }
            return parts;
        } catch (const DiscError &e) {
            throw CutError(e.what());
        } catch (const TitleError &e) {
            throw CutError(e.what());
        } catch (const SourceReadError &e) {
            throw CutError(e.what());
        }
    }

    // Takes the files as a VOB without its tables whose VOB IDs start their
    // time stamps again, when they are one: the stream is then its VOB IDs in
    // file order. False for anything else, which is left as it was.
    bool enterVobIds()
    {
        try {
            const std::unique_ptr<ByteSource> file = vobSet();
            const std::optional<DiscTitle> title = looseTitle(*file);
            if (!title)
                return false;
            auto timeline = std::make_shared<TitleTimeline>(*title, *file);
            table_ = timeline->streamTable(table_);
            timeline_ = std::move(timeline);
            return true;
        } catch (const TitleError &) {
            return false; // the planner of plain streams says what is wrong
        } catch (const SourceReadError &e) {
            throw CutError(e.what());
        }
    }

    std::int64_t size() const { return table_.size(); }
    const OpenSource &first() const { return parts_.front().opened; }
    // The title's time line, or null for files.
    const TitleTimeline *timeline() const { return timeline_.get(); }

    // The VOB files whole, one after another, as the title set numbers its
    // sectors.
    std::unique_ptr<ByteSource> vobSet() const { return std::make_unique<JoinedByteSource>(pieces()); }

    // A clip of a title from offset on: its time stamps run on from there
    // across VOB IDs, and stay as they are up to the first change.
    void shiftTimeFrom(std::int64_t offset)
    {
        if (timeline_)
            stream_ = std::make_shared<TitleStream>(pieces(), *timeline_, offset);
    }

    // Each part is the source that the target may not be. The first is
    // checked where the target is examined or claimed against it.
    void refuseLaterPartsAsTarget(const QByteArray &target) const
    {
        for (std::size_t i = 1; i < parts_.size(); ++i)
            examineTarget(target, parts_[i].opened.fd.get(), parts_[i].opened.status);
    }

    std::unique_ptr<ByteSource> reader() const { return std::make_unique<JoinedByteSource>(pieces(), table_); }

    // Copies a range of the stream, a run at a time, each in the kernel where
    // it can be: all but the cells whose time stamps change.
    void copy(Copiers &copiers, std::int64_t from, std::int64_t to, std::int64_t length) const
    {
        while (length > 0) {
            std::int64_t piece = length;
            if (timeline_) { // one cell at a time
                const TitleSpan &span = timeline_->spans()[timeline_->spanAt(from)];
                piece = std::min(length, span.offset + span.bytes - from);
            }
            if (stream_ && stream_->shifts(from, piece)) {
                buffer_.resize(std::size_t(piece));
                stream_->read(from, buffer_.data(), buffer_.size());
                copiers.front()->write(buffer_.data(), piece, to);
            } else {
                std::int64_t into = to;
                table_.visit(from, piece, [&](const Extent &extent, std::int64_t at, std::int64_t run) {
                    copiers[extent.part]->copy(at, into, run);
                    into += run;
                });
            }
            from += piece;
            to += piece;
            length -= piece;
        }
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
    std::vector<SourcePart> pieces() const
    {
        std::vector<SourcePart> result;
        for (const Part &part : parts_)
            result.push_back({part.opened.fd.get(), part.opened.status.st_size, part.name.toStdString()});
        return result;
    }

    std::vector<Part> parts_;
    ExtentTable table_;
    std::shared_ptr<const TitleTimeline> timeline_;
    std::shared_ptr<TitleStream> stream_;
    mutable std::vector<char> buffer_;
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

void failTitle(const std::exception &e) { throw CutError(e.what()); }

constexpr double kTicks = double(dvd::kTicksPerSecond);

// A title's clip from its marks or chapters, on whole VOBUs, as a range of
// the title stream.
ClipPlan planTitle(const SourceParts &sources, const CutRequest &request, CutResult &result)
{
    const TitleTimeline &timeline = *sources.timeline();
    const DiscTitle &title = timeline.title();
    const std::string name =
        title.number > 0 ? "Title " + std::to_string(title.number) : quotedName(request.sources.front());
    TitlePlace start;
    TitlePlace end;
    if (request.firstChapter > 0) {
        const int chapters = int(title.chapters.size());
        if (request.firstChapter > request.lastChapter)
            throw CutError("The first chapter must not come after the last one.");
        if (request.lastChapter > chapters)
            throw CutError(name + " has " + std::to_string(chapters) + " chapter" + (chapters == 1 ? "" : "s")
                           + "; there is no chapter " + std::to_string(request.lastChapter) + ".");
        start = timeline.chapterStart(std::size_t(request.firstChapter - 1));
        end = timeline.chapterStart(std::size_t(request.lastChapter));
    } else {
        const std::int64_t from = std::int64_t(request.startSecond) * dvd::kTicksPerSecond;
        const std::int64_t to = std::int64_t(request.endSecond) * dvd::kTicksPerSecond;
        if (from >= timeline.durationTicks())
            throw CutError("The start mark lies at or beyond the end of " + name + " ("
                           + ticksText(timeline.durationTicks()) + ").");
        const std::unique_ptr<ByteSource> vobSet = sources.vobSet();
        try {
            start = timeline.place(from, *vobSet);
            if (to >= timeline.durationTicks()) {
                end.offset = timeline.size();
                end.startTicks = timeline.durationTicks();
            } else {
                end = timeline.place(to, *vobSet);
                if (end.startTicks < to) { // the next VOBU starts after the mark
                    end.offset = end.nextOffset;
                    end.startTicks = end.endTicks;
                }
            }
        } catch (const TitleError &e) {
            failTitle(e);
        } catch (const SourceReadError &e) {
            failTitle(e);
        }
    }
    for (std::size_t s = timeline.spanAt(start.offset); s < timeline.spans().size(); ++s) {
        const TitleSpan &span = timeline.spans()[s];
        if (span.offset >= end.offset)
            break;
        if (title.cells[span.cell].interleaved)
            throw CutError(name
                           + " has several camera angles here, interleaved on the disc; a cut would mix "
                             "their pictures.");
    }
    result.startTime = double(start.startTicks) / kTicks;
    result.endTime = double(end.startTicks) / kTicks;
    ClipPlan plan;
    plan.offset = start.offset;
    plan.length = end.offset - start.offset;
    plan.progressMaximum = plan.progressFinal = plan.length;
    return plan;
}

// Today's byte rule, applied to the title's bytes in play order.
ClipPlan planTitleByRate(const SourceParts &sources, const CutRequest &request)
{
    const std::int32_t seconds = std::int32_t(std::nearbyint(double(sources.timeline()->durationTicks()) / kTicks));
    return planClip(sources.size(), seconds, request.startSecond, request.endSecond);
}

std::int64_t scaledProgress(const ClipPlan &plan, std::int64_t copied)
{
    const double share = static_cast<double>(copied) / static_cast<double>(plan.length);
    return std::min(plan.progressFinal, static_cast<std::int64_t>(share * static_cast<double>(plan.progressFinal)));
}

} // namespace

TargetState inspectTarget(const QByteArrayList &sources, const QByteArray &target, int title)
{
    const SourceParts parts = title > 0 ? SourceParts::ofTitle(sources, title, false) : SourceParts(sources);
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
    if (request.firstChapter == 0)
        checkMarks(request);
    SourceParts sources =
        request.title > 0 ? SourceParts::ofTitle(request.sources, request.title, true) : SourceParts(request.sources);
    CutResult result{0, 0, double(request.startSecond), double(request.endSecond)};
    ClipPlan plan;
    if (request.title > 0)
        plan = request.method == CutMethod::Precise || request.firstChapter > 0 ? planTitle(sources, request, result)
                                                                                : planTitleByRate(sources, request);
    else if (request.method == CutMethod::Precise)
        plan = sources.enterVobIds() ? planTitle(sources, request, result) : planPrecisely(sources, request, result);
    else
        plan = planClip(sources.size(), request.durationSeconds, request.startSecond, request.endSecond);
    sources.shiftTimeFrom(plan.offset);
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
