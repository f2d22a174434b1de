#pragma once
// Sends each copied piece of the clip to disk at once and lets the caller
// wait for the oldest ones a little at a time, so that unflushed bytes stay
// few: the final fsync is then short, and no wait is long enough to hold up
// window events.

#include <cstdint>

namespace morvane {

class Writeback {
public:
    explicit Writeback(int fd) : fd_(fd) {}

    // Starts writing the next length bytes of the file (they follow the
    // previous ones).
    void start(std::int64_t length);
    // Waits until at most the next `most` unflushed bytes are on disk.
    void waitSome(std::int64_t most);
    std::int64_t pending() const { return started_ - flushed_; }

private:
    int fd_;
    std::int64_t started_ = 0;
    std::int64_t flushed_ = 0;
};

} // namespace morvane
