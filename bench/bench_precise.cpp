// Measures the precise clip planner: how close its clips come to the marks
// on a variable-rate title, what finding the VOBUs costs on a 1 GiB title
// against a binary search over packs, and what holes behind a title cost.
//
//   bench_precise VBR_VOB WORK_DIR
//
// VBR_VOB is an authored variable-rate title (test media vbr.vob). The 1 GiB
// title is that one repeated, its NAV packs given running sector numbers,
// times and search pointers; it is kept in WORK_DIR and made again only when
// it is missing or of the wrong size. The title followed by holes up to
// 8 GiB is made in WORK_DIR and removed. Always exits 0 unless the bench
// itself cannot run.

#include "files/engine/DvdPacks.h"
#include "files/engine/PrecisePlan.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace morvane;
using Clock = std::chrono::steady_clock;
constexpr std::int64_t kSector = 2048;
constexpr std::int64_t kTarget = std::int64_t(1) << 30;
constexpr int kMarks = 60;

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "bench_precise: %s\n", what.c_str());
    std::exit(1);
}

std::vector<std::uint8_t> readFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        die("cannot open " + path);
    FileByteSource source(fd, path);
    std::vector<std::uint8_t> bytes(std::size_t(source.size()));
    source.read(0, bytes.data(), bytes.size());
    ::close(fd);
    return bytes;
}

void put32(std::uint8_t *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (24 - 8 * i));
}

struct Vobu {
    std::int64_t sector; // in the whole title
    std::int64_t start;  // ticks from the title's start
};

// The VOBU holding time t: the last one starting at or before it.
std::size_t holding(const std::vector<Vobu> &vobus, std::int64_t t)
{
    const auto it = std::upper_bound(vobus.begin(), vobus.end(), t,
                                     [](std::int64_t time, const Vobu &v) { return time < v.start; });
    return std::size_t(it - vobus.begin()) - 1;
}

// Repeats the title until it reaches 1 GiB, with every NAV pack rewritten
// as one long cell would have it.
void buildTitle(const std::vector<std::uint8_t> &vob, const std::string &path)
{
    const std::int64_t sectors = std::int64_t(vob.size()) / kSector;
    std::vector<std::pair<std::int64_t, dvd::NavPack>> navs;
    for (std::int64_t s = 0; s < sectors; ++s)
        if (const auto nav = dvd::parseNavPack(vob.data() + s * kSector, kSector))
            navs.emplace_back(s, *nav);
    if (navs.empty() || navs.front().first != 0)
        die("the title does not start with a NAV pack");
    const std::uint32_t origin = navs.front().second.startPtm;
    const std::int64_t span = std::uint32_t(navs.back().second.endPtm - origin);
    const std::int64_t copies = kTarget / (sectors * kSector);
    std::vector<Vobu> vobus;
    for (std::int64_t c = 0; c < copies; ++c)
        for (const auto &[s, nav] : navs)
            vobus.push_back({c * sectors + s, c * span + std::uint32_t(nav.startPtm - origin)});
    const std::int64_t end = copies * span;

    const std::string part = path + ".part";
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        die("cannot create " + part);
    std::vector<std::uint8_t> copy(vob.begin(), vob.begin() + sectors * kSector);
    std::size_t j = 0;
    for (std::int64_t c = 0; c < copies; ++c) {
        for (const auto &[s, nav] : navs) {
            const Vobu &v = vobus[j];
            std::uint8_t *p = copy.data() + s * kSector;
            const std::uint32_t length = nav.endPtm - nav.startPtm;
            put32(p + 0x2D, std::uint32_t(v.sector)), put32(p + 0x40B, std::uint32_t(v.sector));
            put32(p + 0x39, std::uint32_t(v.start)), put32(p + 0x3D, std::uint32_t(v.start + length));
            auto word = [&](std::optional<std::size_t> to) {
                return to ? 0x8000'0000u | std::uint32_t(std::llabs(vobus[*to].sector - v.sector)) : dvd::kNoVobu;
            };
            std::uint8_t *sri = p + 0x4F1;
            for (std::size_t k = 0; k < 19; ++k) {
                const std::int64_t step = dvd::kForwardHalfSeconds[k] * 45'000;
                put32(sri + 4 * (1 + k),
                      word(v.start + step < end ? std::optional(holding(vobus, v.start + step)) : std::nullopt));
                put32(sri + 4 * (22 + 18 - k),
                      word(v.start - step >= 0 ? std::optional(holding(vobus, v.start - step)) : std::nullopt));
            }
            put32(sri + 4 * 20, word(j + 1 < vobus.size() ? std::optional(j + 1) : std::nullopt));
            put32(sri + 4 * 21, word(j > 0 ? std::optional(j - 1) : std::nullopt));
            ++j;
        }
        if (::write(fd, copy.data(), copy.size()) != ssize_t(copy.size()))
            die("cannot write " + part);
    }
    if (::close(fd) != 0 || ::rename(part.c_str(), path.c_str()) != 0)
        die("cannot finish " + path);
}

struct Cost {
    std::vector<double> bytes, reads, ms;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double percentile90(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, v.size() * 9 / 10)];
}

double worst(const std::vector<double> &v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

// Plans a clip per pair of marks, once to warm the cache and once measured.
Cost measure(int fd, const std::string &name, const std::vector<std::pair<int, int>> &marks, bool pointers,
             std::vector<PreciseClip> &clips)
{
    Cost cost;
    clips.clear();
    for (const auto &[start, end] : marks) {
        FileByteSource warm(fd, name);
        planPreciseClip(warm, start, end, PlanOptions{pointers});
        FileByteSource source(fd, name);
        const auto began = Clock::now();
        clips.push_back(planPreciseClip(source, start, end, PlanOptions{pointers}));
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
        // Two marks per plan.
        cost.bytes.push_back(double(source.bytesRead()) / 2);
        cost.reads.push_back(double(source.reads()) / 2);
        cost.ms.push_back(ms / 2);
    }
    return cost;
}

void report(const char *what, const Cost &c)
{
    std::printf("  %-24s bytes read %8.0f median %8.0f worst | reads %6.0f median %6.0f worst | "
                "ms %7.3f median %7.3f worst\n",
                what, median(c.bytes), worst(c.bytes), median(c.reads), worst(c.reads), median(c.ms), worst(c.ms));
}

struct Run {
    double ms = 0;
    double peakMb = 0; // the process's resident peak
};

// Plans one clip in a child process, so that each run's memory peak is its own.
Run planInChild(const std::string &path, int start, int end)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        die("cannot make a pipe");
    const pid_t child = ::fork();
    if (child < 0)
        die("cannot fork");
    if (child == 0) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        FileByteSource source(fd, path);
        const auto began = Clock::now();
        planPreciseClip(source, start, end);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
        std::_Exit(::write(pipeFds[1], &ms, sizeof ms) == sizeof ms ? 0 : 1);
    }
    ::close(pipeFds[1]);
    Run run;
    const bool told = ::read(pipeFds[0], &run.ms, sizeof run.ms) == sizeof run.ms;
    ::close(pipeFds[0]);
    int status = 0;
    struct rusage usage {};
    if (::wait4(child, &status, 0, &usage) != child || !told || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die("planning " + path + " failed");
    run.peakMb = double(usage.ru_maxrss) / 1024;
    return run;
}

// The title at the front of an 8 GiB sparse file, against the title alone.
void holesBehind(const std::string &vobPath, const std::vector<std::uint8_t> &vob, const std::string &workDir)
{
    const std::string sparse = workDir + "/precise-sparse.vob";
    const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, vob.data(), vob.size()) != ssize_t(vob.size()) || ::ftruncate(fd, 8LL << 30) != 0
        || ::close(fd) != 0)
        die("cannot make " + sparse);
    const Run alone = planInChild(vobPath, 2, 4), holes = planInChild(sparse, 2, 4);
    ::unlink(sparse.c_str());
    const double more = holes.peakMb - alone.peakMb;
    std::printf("the title at the front of an 8 GiB sparse file, marks 2 to 4:\n");
    std::printf("  %.1f ms and %.1f MB more memory than the title alone (%.1f ms); target under 200 ms and "
                "50 MB: %s\n",
                holes.ms, more, alone.ms, holes.ms < 200 && more < 50 ? "met" : "MISSED");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        die("usage: bench_precise VBR_VOB WORK_DIR");
    const std::string vobPath = argv[1], title = std::string(argv[2]) + "/precise-title.vob";
    const std::vector<std::uint8_t> vob = readFile(vobPath);

    // How close the clips come to the marks, at every whole second.
    {
        const int fd = ::open(vobPath.c_str(), O_RDONLY);
        FileByteSource probe(fd, vobPath);
        const int seconds = int(planPreciseClip(probe, 0, 1).streamEnd);
        std::vector<double> startError, endError;
        for (int m = 0; m + 1 <= seconds; ++m) {
            FileByteSource source(fd, vobPath);
            const PreciseClip clip = planPreciseClip(source, m, m + 1);
            startError.push_back(clip.startTime - m);
            endError.push_back(clip.endTime - (m + 1));
        }
        ::close(fd);
        std::vector<double> earlyStart, lateEnd;
        for (double e : startError)
            earlyStart.push_back(-e);
        for (double e : endError)
            lateEnd.push_back(e);
        std::printf("precise plan on %s, %d marks each end:\n", vobPath.c_str(), seconds);
        std::printf("  clip start before the mark: median %.2f s, 90th percentile %.2f s, worst %.2f s, "
                    "never after it: %s\n",
                    median(earlyStart), percentile90(earlyStart), worst(earlyStart),
                    *std::min_element(earlyStart.begin(), earlyStart.end()) >= 0 ? "yes" : "NO");
        std::printf("  clip end after the mark:    median %.2f s, 90th percentile %.2f s, worst %.2f s, "
                    "never before it: %s\n",
                    median(lateEnd), percentile90(lateEnd), worst(lateEnd),
                    *std::min_element(lateEnd.begin(), lateEnd.end()) >= -1e-9 ? "yes" : "NO");
    }

    holesBehind(vobPath, vob, argv[2]);

    struct stat info {};
    const std::int64_t copies = kTarget / (std::int64_t(vob.size()) / kSector * kSector);
    if (::stat(title.c_str(), &info) != 0 || info.st_size != copies * (std::int64_t(vob.size()) / kSector * kSector)) {
        const auto began = Clock::now();
        buildTitle(vob, title);
        std::printf("built %s in %.1f s\n", title.c_str(), std::chrono::duration<double>(Clock::now() - began).count());
    }
    const int fd = ::open(title.c_str(), O_RDONLY);
    if (fd < 0)
        die("cannot open " + title);
    FileByteSource probe(fd, title);
    const double duration = planPreciseClip(probe, 0, 1).streamEnd;

    std::mt19937 random(20240611);
    std::vector<std::pair<int, int>> marks;
    for (int i = 0; i < kMarks; ++i) {
        const int start = int(random() % std::uint32_t(duration - 1));
        marks.emplace_back(start, start + 1 + int(random() % 600));
    }
    std::vector<PreciseClip> fast, slow;
    const Cost pointers = measure(fd, title, marks, true, fast);
    const Cost binary = measure(fd, title, marks, false, slow);
    ::close(fd);
    int disagree = 0;
    for (std::size_t i = 0; i < fast.size(); ++i)
        disagree += fast[i].offset != slow[i].offset || fast[i].length != slow[i].length;

    std::printf("finding the VOBUs on a %.2f GiB title of %.0f s, %d clips, warm cache, per mark:\n",
                double(probe.size()) / double(kTarget), duration, kMarks);
    report("search pointers", pointers);
    report("binary search over packs", binary);
    std::printf("  binary search / search pointers: bytes %.1fx, reads %.1fx, time %.1fx (medians)\n",
                median(binary.bytes) / median(pointers.bytes), median(binary.reads) / median(pointers.reads),
                median(binary.ms) / median(pointers.ms));
    std::printf("  target per mark: at most 1 MiB and 20 ms: %s; both searches agree on every clip: %s\n",
                worst(pointers.bytes) <= 1 << 20 && worst(pointers.ms) <= 20 ? "met" : "MISSED",
                disagree == 0 ? "yes" : "NO");
    return 0;
}
