#pragma once
// Cuts a time range out of a source by byte range, either at the source's
// average byte rate (its length over its duration in whole seconds) or
// precisely, on the VOBUs the stream's own navigation data marks out. The
// clip is written beside the target and given its name only when whole and
// on disk. Knows nothing of widgets. Names are bytes, used as given.

#include "files/engine/CutError.h"
#include "files/engine/RangeCopier.h"
#include "files/engine/TargetClaim.h"

#include <QByteArray>
#include <QByteArrayList>
#include <cstdint>
#include <functional>

namespace morvane {

class SourceParts;

enum class CutMethod {
    ByteRate, // the marks at the average byte rate: the default
    Precise,  // whole VOBUs around the marks, found from the NAV packs
};

struct CutRequest {
    // One file, or the parts of a DVD title, read one after another as one
    // stream. Every part counts as the source that a target may not be.
    QByteArrayList sources;
    QByteArray target;
    std::int32_t durationSeconds = 0; // D
    std::int32_t startSecond = 0;
    std::int32_t endSecond = 0;
    // Never: the target must be a new name, and stays whatever appears there
    // meanwhile. Allowed: an existing file is replaced in one step.
    Replace replace = Replace::Never;
    CutMethod method = CutMethod::ByteRate;
    // A DVD title: sources is the DVD folder or a file in it, and the marks
    // are in title time. Every VOB of the title set counts as the source.
    // The byte rate is the title's bytes over its duration; durationSeconds
    // is not used.
    int title = 0;
    // Chapters firstChapter to lastChapter (1-based) of the title instead of
    // the marks: from the first VOBU of the one to the end of the other.
    int firstChapter = 0;
    int lastChapter = 0;
};

// What a finished cut copied: the byte range of the joined sources and, for a
// precise cut, the seconds it covers on the stream's timeline.
struct CutResult {
    std::int64_t offset = 0;
    std::int64_t length = 0;
    double startTime = 0;
    double endTime = 0;
};

// Where the clip lies in the source, in 0-based bytes.
struct ClipPlan {
    std::int64_t byteRate = 0;        // R
    std::int64_t offset = 0;          // first byte copied
    std::int64_t length = 0;          // bytes copied, never past the source's end
    std::int64_t progressMaximum = 0; // (E - S) + 4097
    std::int64_t progressFinal = 0;   // 4096 per block
};

// For marks that ClipCutter::cut has checked. Throws CutError when D is 0,
// the rate is 0, or the start lies at or past the source's end. A start of 0 cuts
// from the first byte; otherwise the clip starts at 0-based S - 1 and holds
// 4096 x N + 1 bytes, cut short at the source's end.
ClipPlan planClip(std::int64_t sourceLength, std::int32_t durationSeconds, std::int32_t startSecond,
                  std::int32_t endSecond);

enum class TargetState { Missing, File };

// What a cut to target would find, checked as the cut checks it: Missing, or
// File, a regular file (or a symlink to one) that only Replace::Allowed
// replaces. Throws CutError for a source that cannot be read, for a target
// that is anything else ("... is a directory"), and TargetInUse for the
// source itself or a file that cannot be told apart from it.
// With title, every VOB of the DVD's title set that holds it is the source.
TargetState inspectTarget(const QByteArrayList &sources, const QByteArray &target, int title = 0);

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setMaximum(std::int64_t maximum) = 0;
    virtual void setValue(std::int64_t value) = 0;
};

class ClipCutter {
public:
    // letEventsRun is called at least every 50 ms while bytes move; it may
    // call cancel(), which takes effect when it returns. Progress goes from 0
    // to ClipPlan::progressFinal against ClipPlan::progressMaximum.
    ClipCutter(ProgressSink &progress, std::function<void()> letEventsRun);

    // Writes the clip; throws CutError (CutCancelled after cancel(),
    // TargetTaken, TargetInUse). Each call starts afresh, with no cancel
    // pending.
    CutResult cut(const CutRequest &request);

    void cancel() { cancelRequested_ = true; }

    // Test seam: called before each write step with the bytes written so far;
    // a throw there is handled as a failed write.
    std::function<void(std::int64_t written)> beforeWrite;
    // Test seam: false moves every byte through the user-space buffer.
    bool useKernelCopy = true;
    // Test seam: the copy's system calls.
    CopyCalls copyCalls = CopyCalls::system();
    // Test seam: called after each step that finishes the clip.
    std::function<void(CommitStep)> onCommitStep;

private:
    void copyClip(const SourceParts &sources, int targetFd, const ClipPlan &plan);
    void announceWrite(std::int64_t written);
    void runEvents();

    ProgressSink &progress_;
    std::function<void()> letEventsRun_;
    bool cancelRequested_ = false;
};

} // namespace morvane
