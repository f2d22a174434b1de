#include "files/engine/Writeback.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/types.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace morvane {

namespace {

// Errors are ignored here: these calls only schedule and wait, and the
// fsync that ends the cut reports any write that failed.
class FileDisk : public Writeback::Disk {
public:
    explicit FileDisk(int fd) : fd_(fd) {}
    void startWriting(std::int64_t offset, std::int64_t length) override
    {
        ::sync_file_range(fd_, offset, length, SYNC_FILE_RANGE_WRITE);
    }
    // cachestat (Linux 6.5) counts the range's dirty pages and those being
    // written without waiting. Without it, wait: on a slow disk events then
    // wait for a quarter of the budget.
    bool written(std::int64_t offset, std::int64_t length) override
    {
        struct {
            __u64 offset, length;
        } range{static_cast<__u64>(offset), static_cast<__u64>(length)};
        struct {
            __u64 cached, dirty, writeback, evicted, recentlyEvicted;
        } pages{};
        constexpr long kCachestat = 451;
        if (!noCachestat_ && ::syscall(kCachestat, fd_, &range, &pages, 0) == 0) {
            // Writeback that was asked for may pass pages over (locked, or
            // the queue full); ask again, or they wait for the flusher.
            if (pages.dirty > 0)
                ::sync_file_range(fd_, offset, length, SYNC_FILE_RANGE_WRITE);
            return pages.dirty == 0 && pages.writeback == 0;
        }
        noCachestat_ = noCachestat_ || errno == ENOSYS;
        ::sync_file_range(fd_, offset, length,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        return true;
    }
    void pause() override
    {
        const timespec millisecond{0, 1'000'000};
        ::nanosleep(&millisecond, nullptr);
    }
    Writeback::Clock::time_point now() const override { return Writeback::Clock::now(); }

private:
    int fd_;
    bool noCachestat_ = false;
};

} // namespace

Writeback::Writeback(int fd) : ownDisk_(std::make_unique<FileDisk>(fd)), disk_(ownDisk_.get()) {}

Writeback::~Writeback() = default;

void Writeback::start(std::int64_t length)
{
    if (started_ == 0)
        confirmed_.push_back({disk_->now(), 0});
    disk_->startWriting(started_, length);
    started_ += length;
}

std::int64_t Writeback::budget() const
{
    const double fits = bytesPerSecond_ * std::chrono::duration<double>(kInFlight).count();
    return std::clamp(static_cast<std::int64_t>(fits), kLeastBudget, kMostBudget);
}

// The disk's speed is what it confirmed over the last quarter second or so:
// long enough to even out bursts (a throttle that lets a slice through at
// once, bytes the kernel wrote before we asked), short enough to follow a
// change. It at most doubles from one reading to the next, so the first
// quick ones cannot open the budget wide.
void Writeback::waitSome()
{
    const std::int64_t length = std::min(pending(), std::max(budget() / 4, kLeastBudget));
    if (length == 0)
        return;
    if (!disk_->written(flushed_, length)) {
        disk_->pause();
        return;
    }
    flushed_ += length;
    const Clock::time_point now = disk_->now();
    confirmed_.push_back({now, flushed_});
    while (confirmed_.size() > 2 && now - confirmed_[1].at >= kWindow)
        confirmed_.pop_front();
    const double span = std::chrono::duration<double>(now - confirmed_.front().at).count();
    if (span > 0)
        bytesPerSecond_ =
            std::min(static_cast<double>(flushed_ - confirmed_.front().flushed) / span, 2 * bytesPerSecond_);
}

} // namespace morvane
