#include "files/engine/ByteSource.h"

#include "files/engine/FileName.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

std::string quoted(const std::string &name) { return quotedName(QByteArray::fromStdString(name)); }

[[noreturn]] void fail(const std::string &name, const char *what, int error)
{
    throw SourceReadError("Could not " + std::string(what) + " " + quoted(name) + ": " + std::strerror(error) + ".");
}

[[noreturn]] void ended(const std::string &name, std::int64_t after, std::int64_t size)
{
    throw SourceReadError(quoted(name) + " ended after " + std::to_string(after) + " bytes, not the "
                          + std::to_string(size) + " it had.");
}

// Whole len bytes unless the file ends first; returns how many were read.
std::size_t preadFully(int fd, std::int64_t offset, char *buf, std::size_t len, const std::string &name)
{
    std::size_t done = 0;
    while (done < len) {
        const ssize_t got = ::pread(fd, buf + done, len - done, offset + std::int64_t(done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail(name, "read", errno);
        }
        if (got == 0)
            break;
        done += std::size_t(got);
    }
    return done;
}

} // namespace

FileByteSource::FileByteSource(int fd, std::string name) : fd_(fd), size_(0), name_(std::move(name))
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        fail(name_, "read the size of", errno);
    size_ = info.st_size;
}

FileByteSource::FileByteSource(int fd, std::int64_t size, std::string name)
    : fd_(fd), size_(size), name_(std::move(name))
{
}

std::size_t FileByteSource::read(std::int64_t offset, void *buf, std::size_t len)
{
    if (offset < 0 || offset >= size_ || len == 0)
        return 0;
    len = std::size_t(std::min<std::int64_t>(std::int64_t(len), size_ - offset));
    const std::size_t got = preadFully(fd_, offset, static_cast<char *>(buf), len, name_);
    if (got < len)
        ended(name_, offset + std::int64_t(got), size_);
    count(got);
    return got;
}

void ExtentTable::append(const Extent &extent)
{
    if (extent.length <= 0)
        return;
    size_ += extent.length;
    if (!extents_.empty()) {
        Extent &last = extents_.back();
        if (last.part == extent.part && last.offset + last.length == extent.offset) {
            last.length += extent.length;
            return;
        }
    }
    starts_.push_back(size_ - extent.length);
    extents_.push_back(extent);
}

std::size_t ExtentTable::indexAt(std::int64_t offset) const
{
    return std::size_t(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin()) - 1;
}

ExtentTable wholeParts(const std::vector<std::int64_t> &sizes)
{
    ExtentTable table;
    for (std::size_t i = 0; i < sizes.size(); ++i)
        table.append({i, 0, sizes[i]});
    return table;
}

std::vector<std::int64_t> sizesOf(const std::vector<SourcePart> &parts)
{
    std::vector<std::int64_t> sizes;
    for (const SourcePart &part : parts)
        sizes.push_back(part.size);
    return sizes;
}

JoinedByteSource::JoinedByteSource(std::vector<SourcePart> parts)
    : parts_(std::move(parts)), table_(wholeParts(sizesOf(parts_)))
{
}

JoinedByteSource::JoinedByteSource(std::vector<SourcePart> parts, ExtentTable table)
    : parts_(std::move(parts)), table_(std::move(table))
{
}

std::string JoinedByteSource::name() const
{
    if (parts_.empty())
        return "(no file)";
    if (parts_.size() == 1)
        return parts_.front().name;
    return parts_.front().name + " and " + std::to_string(parts_.size() - 1) + " more";
}

std::size_t JoinedByteSource::read(std::int64_t offset, void *buf, std::size_t len)
{
    std::size_t done = 0;
    table_.visit(offset, std::int64_t(len), [&](const Extent &extent, std::int64_t at, std::int64_t length) {
        const SourcePart &part = parts_[extent.part];
        const std::size_t want = std::size_t(length);
        const std::size_t got = preadFully(part.fd, at, static_cast<char *>(buf) + done, want, part.name);
        if (got < want)
            ended(part.name, at + std::int64_t(got), part.size);
        done += got;
    });
    if (done > 0)
        count(done);
    return done;
}

} // namespace morvane
