#pragma once
// Sends each copied piece of the clip to disk at once and waits for the
// oldest ones a little at a time. How much may stay unflushed follows the
// disk's measured speed: enough to keep a fast disk busy, little enough on a
// slow one that no wait (and no final flush, and no drop of the unfinished
// clip) holds up window events for long.

#include <chrono>
#include <cstdint>
#include <memory>

namespace morvane {

class Writeback {
public:
    using Clock = std::chrono::steady_clock;

    // What the disk is asked; the real one is sync_file_range on the file.
    class Disk {
    public:
        virtual ~Disk() = default;
        virtual void startWriting(std::int64_t offset, std::int64_t length) = 0;
        virtual void waitWritten(std::int64_t offset, std::int64_t length) = 0;
        virtual Clock::time_point now() const = 0;
    };

    // The longest a wait should take, in the disk's own time.
    static constexpr auto kLongestWait = std::chrono::milliseconds(30);
    static constexpr std::int64_t kLeastBudget = 64 << 10;
    static constexpr std::int64_t kMostBudget = 64 << 20;
    static constexpr std::int64_t kFirstBudget = 256 << 10;

    explicit Writeback(int fd);
    explicit Writeback(Disk &disk) : disk_(&disk) {}
    ~Writeback();

    // Starts writing the next length bytes of the file (they follow the
    // previous ones).
    void start(std::int64_t length);
    // Waits for the oldest unflushed bytes, a quarter of the budget at most.
    void waitSome();
    std::int64_t pending() const { return started_ - flushed_; }
    // Unflushed bytes the disk writes in kLongestWait, as far as it has
    // shown its speed.
    std::int64_t budget() const;

private:
    std::unique_ptr<Disk> ownDisk_;
    Disk *disk_;
    std::int64_t started_ = 0;
    std::int64_t flushed_ = 0;
    double bytesPerSecond_ = kFirstBudget / std::chrono::duration<double>(kLongestWait).count();
    Clock::time_point busySince_;
};

} // namespace morvane
