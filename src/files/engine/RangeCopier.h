#pragma once
// Moves a byte range from one open file to another: in the kernel with
// copy_file_range where the file systems allow it, otherwise through one
// fixed buffer.

#include <cstdint>
#include <functional>
#include <memory>
#include <sys/types.h>

namespace morvane {

// The system calls the copy makes; tests put in ones that are interrupted
// or write short.
struct CopyCalls {
    std::function<ssize_t(int in, loff_t *inOffset, int out, loff_t *outOffset, size_t length)> copyFileRange;
    std::function<ssize_t(int fd, void *buffer, size_t length, off_t offset)> pread;
    std::function<ssize_t(int fd, const void *buffer, size_t length, off_t offset)> pwrite;

    static CopyCalls system();
};

class RangeCopier {
public:
    // inKernel false goes straight to the buffer.
    RangeCopier(int sourceFd, int targetFd, bool inKernel = true, CopyCalls calls = CopyCalls::system());
    ~RangeCopier();

    // Copies exactly length bytes, retrying interrupted calls and finishing
    // short ones; throws CutError on a failed read or write, and when the
    // source ends early (it was truncated under us).
    void copy(std::int64_t sourceOffset, std::int64_t targetOffset, std::int64_t length);
    // Writes bytes that were read and changed elsewhere; throws CutError.
    void write(const char *bytes, std::int64_t length, std::int64_t targetOffset);

private:
    std::int64_t copyInKernel(std::int64_t sourceOffset, std::int64_t targetOffset, std::int64_t length);
    std::int64_t copyThroughBuffer(std::int64_t sourceOffset, std::int64_t targetOffset, std::int64_t length);

    int sourceFd_;
    int targetFd_;
    bool inKernel_ = true;
    CopyCalls calls_;
    std::unique_ptr<char[]> buffer_;
};

} // namespace morvane
