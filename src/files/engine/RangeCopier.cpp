#include "files/engine/RangeCopier.h"

#include "files/engine/CutError.h"

#include <cerrno>
#include <string>
#include <unistd.h>

namespace morvane {

namespace {

constexpr std::int64_t kBufferSize = 1 << 20;

[[noreturn]] void failRead(int error) { throw CutError("Reading the source failed: " + errnoText(error) + "."); }

[[noreturn]] void failWrite(int error) { throw CutError("Writing the clip failed: " + errnoText(error) + "."); }

[[noreturn]] void failShortSource() { throw CutError("The source file got shorter while it was being read."); }

bool kernelCopyUnsupported(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

} // namespace

CopyCalls CopyCalls::system()
{
    return {[](int in, loff_t *inOffset, int out, loff_t *outOffset, size_t length) {
                return ::copy_file_range(in, inOffset, out, outOffset, length, 0);
            },
            ::pread, ::pwrite};
}

RangeCopier::RangeCopier(int sourceFd, int targetFd, bool inKernel, CopyCalls calls)
    : sourceFd_(sourceFd), targetFd_(targetFd), inKernel_(inKernel), calls_(std::move(calls))
{
}

RangeCopier::~RangeCopier() = default;

void RangeCopier::copy(std::int64_t sourceOffset, std::int64_t targetOffset, std::int64_t length)
{
    while (length > 0) {
        const std::int64_t moved = inKernel_ ? copyInKernel(sourceOffset, targetOffset, length)
                                             : copyThroughBuffer(sourceOffset, targetOffset, length);
        sourceOffset += moved;
        targetOffset += moved;
        length -= moved;
    }
}

// Returns the bytes moved; 0 after an interruption or a switch to the buffer.
std::int64_t RangeCopier::copyInKernel(std::int64_t sourceOffset, std::int64_t targetOffset, std::int64_t length)
{
    loff_t in = sourceOffset;
    loff_t out = targetOffset;
    const ssize_t moved = calls_.copyFileRange(sourceFd_, &in, targetFd_, &out, static_cast<size_t>(length));
    if (moved > 0)
        return moved;
    if (moved == 0)
        failShortSource();
    if (errno == EINTR)
        return 0;
    if (kernelCopyUnsupported(errno)) {
        inKernel_ = false;
        return 0;
    }
    // The kernel does not say which side failed; ask the source alone.
    const int error = errno;
    char probe;
    if (calls_.pread(sourceFd_, &probe, 1, sourceOffset) < 0)
        failRead(errno);
    failWrite(error);
}

// Returns the bytes moved; 0 after an interrupted read.
std::int64_t RangeCopier::copyThroughBuffer(std::int64_t sourceOffset, std::int64_t targetOffset, std::int64_t length)
{
    if (!buffer_)
        buffer_ = std::make_unique<char[]>(kBufferSize);
    const ssize_t got =
        calls_.pread(sourceFd_, buffer_.get(), static_cast<size_t>(std::min(length, kBufferSize)), sourceOffset);
    if (got < 0) {
        if (errno == EINTR)
            return 0;
        failRead(errno);
    }
    if (got == 0)
        failShortSource();
    write(buffer_.get(), got, targetOffset);
    return got;
}

void RangeCopier::write(const char *bytes, std::int64_t length, std::int64_t targetOffset)
{
    for (std::int64_t done = 0; done < length;) {
        const ssize_t put =
            calls_.pwrite(targetFd_, bytes + done, static_cast<size_t>(length - done), targetOffset + done);
        if (put < 0 && errno != EINTR)
            failWrite(errno);
        if (put == 0) // a disk that takes nothing would otherwise be asked for ever
            failWrite(ENOSPC);
        if (put > 0)
            done += put;
    }
}

} // namespace morvane
