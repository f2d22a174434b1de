#pragma once
// Moves a byte range from one open file to another: in the kernel with
// copy_file_range where the file systems allow it, otherwise through one
// fixed buffer.

#include <cstdint>
#include <memory>

namespace morvane {

class RangeCopier {
public:
    // inKernel false goes straight to the buffer.
    RangeCopier(int sourceFd, int targetFd, bool inKernel = true);
    ~RangeCopier();

    // Copies exactly length bytes; throws CutError on a failed read or write,
    // and when the source ends early (it was truncated under us).
    void copy(std::int64_t sourceOffset, std::int64_t targetOffset, std::int64_t length);

private:
    std::int64_t copyInKernel(std::int64_t sourceOffset, std::int64_t targetOffset, std::int64_t length);
    std::int64_t copyThroughBuffer(std::int64_t sourceOffset, std::int64_t targetOffset, std::int64_t length);

    int sourceFd_;
    int targetFd_;
    bool inKernel_ = true;
    std::unique_ptr<char[]> buffer_;
};

} // namespace morvane
