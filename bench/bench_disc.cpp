// Measures finding the VOBU that holds a title time on a DVD title of 40 VOB
// IDs over two files: bytes read and time per lookup, with a warm cache; and
// how fast the title stream reads against the same files read plainly.
//
//   bench_disc DVD_FOLDER
//
// Always exits 0 unless the bench itself cannot run.

#include "files/engine/TitleStream.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace morvane;
using Clock = std::chrono::steady_clock;

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_disc DVD_FOLDER\n");
        return 2;
    }
    try {
        OpenTitle title(argv[1], 1);
        const TitleTimeline &timeline = title.timeline();
        const DiscTitleSet &set = title.disc().titleSet(timeline.title().titleSet);
        int vobIds = 0;
        for (std::size_t i = 0; i < timeline.spans().size(); ++i)
            if (i == 0
                || title.disc().titles[0].cells[timeline.spans()[i].cell].vobId
                       != title.disc().titles[0].cells[timeline.spans()[i - 1].cell].vobId)
                ++vobIds;
        constexpr int kLookups = 200;
        std::vector<std::int64_t> times;
        for (int i = 0; i < kLookups; ++i) // spread over the title, off the VOBU grid
            times.push_back(timeline.durationTicks() * (2 * i + 1) / (2 * kLookups) + 1234 * (i % 7));
        for (const std::int64_t t : times) // warms the cache
            title.place(t);
        std::int64_t mostBytes = 0;
        std::int64_t allBytes = 0;
        double mostMs = 0;
        double allMs = 0;
        for (const std::int64_t t : times) {
            title.vobSet().resetCounters();
            const auto began = Clock::now();
            const TitlePlace place = title.place(t);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
            if (place.startTicks > t || t >= place.endTicks)
                std::fprintf(stderr, "bench_disc: %.2f s landed in the VOBU of %.2f to %.2f s\n", t / 90000.0,
                             place.startTicks / 90000.0, place.endTicks / 90000.0);
            mostBytes = std::max(mostBytes, title.vobSet().bytesRead());
            allBytes += title.vobSet().bytesRead();
            mostMs = std::max(mostMs, ms);
            allMs += ms;
        }
        std::printf("title lookup on a title of %d VOB IDs over %lld files, %s, %zu VOBUs, warm, %d lookups:\n", vobIds,
                    static_cast<long long>(set.vobs.size()), ticksText(timeline.durationTicks()).c_str(),
                    set.vobuStarts.size(), kLookups);
        std::printf("  bytes read per lookup: mean %.1f KiB, most %.1f KiB (target at most 64 KiB)\n",
                    double(allBytes) / kLookups / 1024, double(mostBytes) / 1024);
        std::printf("  time per lookup: mean %.3f ms, most %.3f ms (target at most 5 ms)\n", allMs / kLookups, mostMs);

        // The title stream against the same bytes read plainly, both warm.
        std::vector<char> piece(1 << 20);
        auto readAll = [&](ByteSource &source) {
            const auto began = Clock::now();
            for (std::int64_t at = 0; at < source.size();)
                at += std::int64_t(source.read(at, piece.data(), piece.size()));
            return std::chrono::duration<double>(Clock::now() - began).count();
        };
        readAll(title.stream());
        const double streamSeconds = readAll(title.stream());
        const double plainSeconds = readAll(title.vobSet());
        std::printf("  reading the title stream: %.0f MB/s, the VOB files plainly: %.0f MB/s (warm)\n",
                    double(title.stream().size()) / streamSeconds / 1e6,
                    double(title.vobSet().size()) / plainSeconds / 1e6);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_disc: %s\n", e.what());
        return 1;
    }
    return 0;
}
