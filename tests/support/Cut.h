#pragma once
// Engine cuts and outcomes.

#include "files/engine/ClipCutter.h"
#include "support/Files.h"

#include <functional>

namespace morvane::test {

struct NullProgress : ProgressSink {
    void setMaximum(std::int64_t) override {}
    void setValue(std::int64_t) override {}
};

// The engine's cut, headless.
inline CutResult engineCut(const CutRequest &request)
{
    NullProgress progress;
    return ClipCutter(progress, {}).cut(request);
}

// Error class, then text; empty on success.
inline QString outcomeOf(const std::function<void()> &cut)
{
    try {
        cut();
    } catch (const CutCancelled &e) {
        return "cancelled: " + QString::fromUtf8(e.what());
    } catch (const TargetInUse &e) {
        return "in use: " + QString::fromUtf8(e.what());
    } catch (const TargetTaken &e) {
        return "taken: " + QString::fromUtf8(e.what());
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return "";
}

// Empty want: success; else a failure saying want.
inline bool says(const QString &got, const QString &want)
{
    return got.contains(want) && got.isEmpty() == want.isEmpty();
}

// chapters, else seconds of title time
inline CutRequest titleCut(const QByteArray &disc, int title, CutMethod method, bool chapters, int from, int to,
                           const QByteArray &target)
{
    CutRequest request{{disc}, target, 0, 0, 0, Replace::Allowed, method};
    request.title = title;
    if (chapters) {
        request.firstChapter = from;
        request.lastChapter = to;
    } else {
        request.startSecond = from;
        request.endSecond = to;
    }
    return request;
}

} // namespace morvane::test
