#pragma once
// Sends each copied piece of the clip to disk at once and checks, without
// waiting, when the oldest ones are there. How much may stay unflushed
// follows the disk's measured speed: enough to keep a fast disk busy, little
// enough on a slow one that dropping an unfinished clip (which waits for the
// bytes on their way) ends soon.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>

namespace morvane {

class Writeback {
public:
    using Clock = std::chrono::steady_clock;

    // What the disk is asked; the real one is sync_file_range and
    // cachestat on the file.
    class Disk {
    public:
        virtual ~Disk() = default;
        virtual void startWriting(std::int64_t offset, std::int64_t length) = 0;
        // Whether the range is on disk, without waiting where the system can
        // tell; otherwise it waits until it is.
        virtual bool written(std::int64_t offset, std::int64_t length) = 0;
        // A short pause before asking again.
        virtual void pause() = 0;
        virtual Clock::time_point now() const = 0;
    };

    // What may be on its way to disk, in the disk's own time: well over a
    // disk's latency (a throttled one writes in 100 ms slices), or the speed
    // it shows is only what it was given.
    static constexpr auto kInFlight = std::chrono::milliseconds(200);
    static constexpr std::int64_t kLeastBudget = 64 << 10;
    static constexpr std::int64_t kMostBudget = 64 << 20;
    static constexpr std::int64_t kFirstBudget = 256 << 10;
    static constexpr auto kWindow = std::chrono::milliseconds(250);

    explicit Writeback(int fd);
    explicit Writeback(Disk &disk) : disk_(&disk) {}
    ~Writeback();

    // Starts writing the next length bytes of the file (they follow the
    // previous ones).
    void start(std::int64_t length);
    // Counts the oldest unflushed bytes, a quarter of the budget at most, as
    // flushed once they are, or pauses briefly.
    void waitSome();
    std::int64_t pending() const { return started_ - flushed_; }
    // Unflushed bytes the disk writes in kInFlight, as far as it has shown
    // its speed.
    std::int64_t budget() const;

private:
    std::unique_ptr<Disk> ownDisk_;
    Disk *disk_;
    std::int64_t started_ = 0;
    std::int64_t flushed_ = 0;
    double bytesPerSecond_ = kFirstBudget / std::chrono::duration<double>(kInFlight).count();
    struct Confirmed {
        Clock::time_point at;
        std::int64_t flushed;
    };
    std::deque<Confirmed> confirmed_; // since a little over kWindow ago
};

} // namespace morvane
