#pragma once
// Starts writing each finished range to disk at once and waits for the one
// before it, so dirty pages stay few: the final fsync is then short and no
// single step stalls on a flood of writeback.

#include <cstdint>

namespace morvane {

class Writeback {
public:
    explicit Writeback(int fd) : fd_(fd) {}

    // Queues [offset, offset + length) and waits until the previous range is
    // on disk.
    void push(std::int64_t offset, std::int64_t length);
    // Waits for the last range.
    void drain();

private:
    void wait(std::int64_t offset, std::int64_t length);

    int fd_;
    std::int64_t pendingOffset_ = 0;
    std::int64_t pendingLength_ = 0;
};

} // namespace morvane
