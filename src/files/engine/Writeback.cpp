#include "files/engine/Writeback.h"

#include <fcntl.h>

namespace morvane {

// Errors are ignored here: these calls only schedule work, and the fsync
// that ends the cut reports any write that failed.
void Writeback::push(std::int64_t offset, std::int64_t length)
{
    ::sync_file_range(fd_, offset, length, SYNC_FILE_RANGE_WRITE);
    drain();
    pendingOffset_ = offset;
    pendingLength_ = length;
}

void Writeback::drain()
{
    if (pendingLength_ > 0)
        wait(pendingOffset_, pendingLength_);
    pendingLength_ = 0;
}

void Writeback::wait(std::int64_t offset, std::int64_t length)
{
    ::sync_file_range(fd_, offset, length,
                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
}

} // namespace morvane
