#include "files/engine/Writeback.h"

#include <algorithm>
#include <fcntl.h>

namespace morvane {

// Errors are ignored here: these calls only schedule and wait, and the
// fsync that ends the cut reports any write that failed.
void Writeback::start(std::int64_t length)
{
    ::sync_file_range(fd_, started_, length, SYNC_FILE_RANGE_WRITE);
    started_ += length;
}

void Writeback::waitSome(std::int64_t most)
{
    const std::int64_t length = std::min(most, pending());
    ::sync_file_range(fd_, flushed_, length,
                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    flushed_ += length;
}

} // namespace morvane
