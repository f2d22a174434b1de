// Measures the cutting engine on a 1 GiB clip of a source in the page cache
// against plain copies of the same bytes made equally durable, and checks
// that its memory stays fixed and its event callbacks stay frequent.
//
//   bench_cut [SCRATCH_DIR]     (default $MORVANE_BENCH_DIR, else /var/tmp)
//
// Prints ratios; always exits 0 unless the bench itself cannot run.

#include "files/engine/ClipCutter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using namespace morvane;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t MiB = 1 << 20;
constexpr int kRounds = 5;
// R = 1 MiB: seconds 1 to 1025 are a 1 GiB clip, 1 to 2 a 1 MiB one.
constexpr std::int32_t kDuration = 1100;
constexpr std::int32_t kLargeEnd = 1025;
constexpr std::int32_t kSmallEnd = 2;

struct Scratch {
    std::string dir;
    std::string source;
    std::string target;
};

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "bench_cut: %s\n", what.c_str());
    std::exit(1);
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Incompressible bytes, written once and fsynced so that no writeback of the
// source disturbs the runs; they stay in the page cache.
void makeSource(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        die("cannot create " + path);
    std::vector<std::uint64_t> block(MiB / 8);
    std::uint64_t x = 0x9E3779B97F4A7C15ULL;
    for (std::int64_t i = 0; i < kDuration; ++i) {
        for (auto &word : block) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            word = x;
        }
        if (::write(fd, block.data(), MiB) != MiB)
            die("cannot write " + path);
    }
    ::fsync(fd);
    ::close(fd);
}

ClipPlan planFor(std::int32_t end) { return planClip(kDuration * MiB, kDuration, 1, end); }

struct Fds {
    int in, out;
    Fds(const Scratch &s)
        : in(::open(s.source.c_str(), O_RDONLY)), out(::open(s.target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644))
    {
        if (in < 0 || out < 0)
            die("cannot open the scratch files");
    }
    ~Fds()
    {
        ::close(in);
        ::close(out);
    }
};

void plainCopyFileRange(const Scratch &s, const ClipPlan &plan)
{
    Fds fds(s);
    loff_t in = plan.offset, out = 0;
    for (std::int64_t left = plan.length; left > 0;) {
        const ssize_t moved = ::copy_file_range(fds.in, &in, fds.out, &out, static_cast<size_t>(left), 0);
        if (moved <= 0)
            die("copy_file_range failed");
        left -= moved;
    }
    ::fsync(fds.out);
}

// The block rule taken literally: read 4097 bytes, write them, advance 4096.
void naiveBlockLoop(const Scratch &s, const ClipPlan &plan)
{
    Fds fds(s);
    char buffer[4097];
    for (std::int64_t done = 0; done < plan.length; done += 4096) {
        const std::int64_t size = std::min<std::int64_t>(4097, plan.length - done);
        if (::pread(fds.in, buffer, size, plan.offset + done) != size || ::pwrite(fds.out, buffer, size, done) != size)
            die("4 KiB loop failed");
    }
    ::fsync(fds.out);
}

class NoProgress : public ProgressSink {
public:
    void setMaximum(std::int64_t) override {}
    void setValue(std::int64_t) override {}
};

struct EngineRun {
    double seconds = 0;
    double longestGapMs = 0;
    double tailMs = 0; // last callback to the return: the final flush
    int callbacks = 0;
};

// The gaps include the stretch from the call to the first callback and from
// the last callback to the return, where the final flush happens.
EngineRun runEngine(const Scratch &s, std::int32_t end)
{
    NoProgress progress;
    EngineRun run;
    Clock::time_point last = Clock::now();
    const Clock::time_point began = last;
    auto noteGap = [&] {
        const auto now = Clock::now();
        run.longestGapMs = std::max(run.longestGapMs, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    };
    ClipCutter cutter(progress, [&] {
        noteGap();
        ++run.callbacks;
    });
    cutter.cut({{QByteArray::fromStdString(s.source)},
                QByteArray::fromStdString(s.target),
                kDuration,
                1,
                end,
                Replace::Allowed});
    run.tailMs = std::chrono::duration<double, std::milli>(Clock::now() - last).count();
    noteGap();
    run.seconds = seconds(Clock::now() - began);
    return run;
}

struct ChildRun {
    double seconds = 0;
    long maxRssKiB = 0;
    bool ok = false;
};

ChildRun waitChild(pid_t pid, Clock::time_point began)
{
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid)
        die("wait4 failed");
    return {seconds(Clock::now() - began), usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

ChildRun runCli(const Scratch &s, std::int32_t end)
{
    const std::string endText = std::to_string(end), durationText = std::to_string(kDuration);
    std::vector<std::string> args{MORVANE_CUT_PATH, "--force", "--duration", durationText, "--start", "1",
                                  "--end",          endText,   s.source,     s.target};
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto began = Clock::now();
    pid_t pid = 0;
    if (::posix_spawn(&pid, MORVANE_CUT_PATH, nullptr, nullptr, argv.data(), environ) != 0)
        die("cannot start " MORVANE_CUT_PATH);
    return waitChild(pid, began);
}

ChildRun runEngineInChild(const Scratch &s, std::int32_t end)
{
    const auto began = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        try {
            runEngine(s, end);
            ::_exit(0);
        } catch (...) {
            ::_exit(1);
        }
    }
    return waitChild(pid, began);
}

// Each run starts with no target and no dirty pages left by the one before.
template <typename F>
auto fresh(const Scratch &s, F &&run)
{
    ::unlink(s.target.c_str());
    ::sync();
    return run();
}

Scratch makeScratch(const char *given)
{
    const char *configured = std::getenv("MORVANE_BENCH_DIR");
    std::string base = given ? given : configured ? configured : "/var/tmp";
    std::string pattern = base + "/morvane-bench-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        die("cannot make a scratch folder in " + base);
    return {pattern, pattern + "/source.vob", pattern + "/clip.vob"};
}

} // namespace

int main(int argc, char **argv)
{
    const Scratch s = makeScratch(argc > 1 ? argv[1] : nullptr);
    makeSource(s.source);
    const ClipPlan large = planFor(kLargeEnd);

    std::vector<double> engine, cli, cfr, naive, gaps, tails;
    double longestGap = 0;
    int callbacks = 0;
    bool cliOk = true;
    for (int round = 0; round < kRounds; ++round) {
        const EngineRun e = fresh(s, [&] { return runEngine(s, kLargeEnd); });
        engine.push_back(e.seconds);
        gaps.push_back(e.longestGapMs);
        tails.push_back(e.tailMs);
        longestGap = std::max(longestGap, e.longestGapMs);
        callbacks = e.callbacks;
        cfr.push_back(fresh(s, [&] {
            const auto began = Clock::now();
            plainCopyFileRange(s, large);
            return seconds(Clock::now() - began);
        }));
        const ChildRun c = fresh(s, [&] { return runCli(s, kLargeEnd); });
        cli.push_back(c.seconds);
        cliOk = cliOk && c.ok;
        naive.push_back(fresh(s, [&] {
            const auto began = Clock::now();
            naiveBlockLoop(s, large);
            return seconds(Clock::now() - began);
        }));
    }
    const ChildRun engineSmall = fresh(s, [&] { return runEngineInChild(s, kSmallEnd); });
    const ChildRun engineLarge = fresh(s, [&] { return runEngineInChild(s, kLargeEnd); });
    const ChildRun cliSmall = fresh(s, [&] { return runCli(s, kSmallEnd); });
    const ChildRun cliLarge = fresh(s, [&] { return runCli(s, kLargeEnd); });
    ::unlink(s.target.c_str());
    ::unlink(s.source.c_str());
    ::rmdir(s.dir.c_str());

    const double base = median(cfr), loop = median(naive);
    std::printf("morvane bench: clip of %lld bytes from a %lld MiB source in the page cache, in %s\n",
                static_cast<long long>(large.length), static_cast<long long>(kDuration), s.dir.c_str());
    std::printf("medians of %d alternating runs, each ending with the clip fsynced\n", kRounds);
    std::printf("  copy_file_range + fsync       %7.3f s\n", base);
    std::printf("  4 KiB pread/pwrite + fsync    %7.3f s\n", loop);
    std::printf("  engine (ClipCutter)           %7.3f s   %.3f x copy_file_range, %.3f x 4 KiB loop\n", median(engine),
                median(engine) / base, median(engine) / loop);
    std::printf("  morvane-cut, whole process    %7.3f s   %.3f x copy_file_range, %.3f x 4 KiB loop%s\n", median(cli),
                median(cli) / base, median(cli) / loop, cliOk ? "" : "   (A RUN FAILED)");
    std::printf("event callbacks: %d per run; longest gap %.1f ms (median of runs' longest %.1f ms;"
                " last callback to return %.1f ms)\n",
                callbacks, longestGap, median(gaps), median(tails));
    std::printf("peak RSS, engine in a child:  1 MiB clip %ld KiB, 1 GiB clip %ld KiB, growth %ld KiB\n",
                engineSmall.maxRssKiB, engineLarge.maxRssKiB, engineLarge.maxRssKiB - engineSmall.maxRssKiB);
    std::printf("peak RSS, morvane-cut:        1 MiB clip %ld KiB, 1 GiB clip %ld KiB, growth %ld KiB%s\n",
                cliSmall.maxRssKiB, cliLarge.maxRssKiB, cliLarge.maxRssKiB - cliSmall.maxRssKiB,
                cliSmall.ok && cliLarge.ok && engineSmall.ok && engineLarge.ok ? "" : "   (A RUN FAILED)");
    return 0;
}
