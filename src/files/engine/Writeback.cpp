#include "files/engine/Writeback.h"

#include <algorithm>
#include <fcntl.h>

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
    void waitWritten(std::int64_t offset, std::int64_t length) override
    {
        ::sync_file_range(fd_, offset, length,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    }
    Writeback::Clock::time_point now() const override { return Writeback::Clock::now(); }

private:
    int fd_;
};

} // namespace

Writeback::Writeback(int fd) : ownDisk_(std::make_unique<FileDisk>(fd)), disk_(ownDisk_.get()) {}

Writeback::~Writeback() = default;

void Writeback::start(std::int64_t length)
{
    if (pending() == 0)
        busySince_ = disk_->now();
    disk_->startWriting(started_, length);
    started_ += length;
}

std::int64_t Writeback::budget() const
{
    const double fits = bytesPerSecond_ * std::chrono::duration<double>(kLongestWait).count();
    return std::clamp(static_cast<std::int64_t>(fits), kLeastBudget, kMostBudget);
}

// The disk has been busy since the last bytes it confirmed (or since it got
// work), so what it confirms over that time is its speed. A slower reading
// counts at once; a faster one at most doubles the estimate, so one lucky
// wait (bytes written before we asked) cannot open the budget wide. The
// first guess allows kFirstBudget.
void Writeback::waitSome()
{
    const std::int64_t length = std::min(pending(), std::max(budget() / 4, kLeastBudget));
    if (length == 0)
        return;
    disk_->waitWritten(flushed_, length);
    flushed_ += length;
    const Clock::time_point now = disk_->now();
    const double took = std::max(std::chrono::duration<double>(now - busySince_).count(), 1e-6);
    const double speed = static_cast<double>(length) / took;
    bytesPerSecond_ = std::min(speed, 2 * bytesPerSecond_);
    busySince_ = now;
}

} // namespace morvane
