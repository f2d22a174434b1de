#pragma once
// Random-access reading of a source that may be one file or the parts of a
// DVD title read back to back. Knows nothing of widgets.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace morvane {

// A read that failed; what() names the file and the system's reason.
class SourceReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::int64_t size() const = 0;
    // Reads up to len bytes at offset; fewer only at the end of the source.
    // Throws SourceReadError.
    virtual std::size_t read(std::int64_t offset, void *buf, std::size_t len) = 0;
    // How the source is named in messages (bytes, as the file system has them).
    virtual std::string name() const = 0;

    std::int64_t bytesRead() const { return bytesRead_; }
    std::int64_t reads() const { return reads_; }
    void resetCounters() { bytesRead_ = reads_ = 0; }

protected:
    void count(std::size_t bytes) { bytesRead_ += std::int64_t(bytes), ++reads_; }

private:
    std::int64_t bytesRead_ = 0;
    std::int64_t reads_ = 0;
};

// One open file; the fd stays the caller's. size is taken once, at
// construction, so that a plan sees one consistent length.
class FileByteSource : public ByteSource {
public:
    FileByteSource(int fd, std::string name); // throws SourceReadError when fstat fails
    FileByteSource(int fd, std::int64_t size, std::string name);
    std::int64_t size() const override { return size_; }
    std::size_t read(std::int64_t offset, void *buf, std::size_t len) override;
    std::string name() const override { return name_; }

private:
    int fd_;
    std::int64_t size_;
    std::string name_;
};

struct SourcePart {
    int fd;            // open for reading, owned by the caller
    std::int64_t size; // bytes the file is taken to hold
    std::string name;
};

// Each part's size, in order.
std::vector<std::int64_t> sizesOf(const std::vector<SourcePart> &parts);

// One run of a stream: length bytes of file `part` from `offset`.
struct Extent {
    std::size_t part = 0;
    std::int64_t offset = 0;
    std::int64_t length = 0;
};

// Where each byte of a stream lies: runs of files laid end to end. Whole
// files back to back make a split title; a DVD title's cells in play order
// make runs that jump about. Both its reader and its copier walk this table.
class ExtentTable {
public:
    // Runs that continue the last one in the same file are merged with it.
    void append(const Extent &extent);
    std::int64_t size() const { return size_; }
    const std::vector<Extent> &extents() const { return extents_; }
    // The stream offset at which each run starts.
    const std::vector<std::int64_t> &starts() const { return starts_; }

    // Calls visit(extent, offsetInPart, length) for each piece of the stream
    // range [offset, offset + length), in order, cut short at the end.
    template <class Visit>
    void visit(std::int64_t offset, std::int64_t length, Visit &&visit) const;

private:
    std::size_t indexAt(std::int64_t offset) const;
    std::vector<Extent> extents_;
    std::vector<std::int64_t> starts_;
    std::int64_t size_ = 0;
};

// Every part whole, in the given order.
ExtentTable wholeParts(const std::vector<std::int64_t> &sizes);

// A stream read through an extent table. A part that holds fewer bytes than
// its size says fails the read rather than shifting what follows.
class JoinedByteSource : public ByteSource {
public:
    explicit JoinedByteSource(std::vector<SourcePart> parts); // the parts whole, back to back
    JoinedByteSource(std::vector<SourcePart> parts, ExtentTable table);
    std::int64_t size() const override { return table_.size(); }
    std::size_t read(std::int64_t offset, void *buf, std::size_t len) override;
    std::string name() const override;
    const ExtentTable &table() const { return table_; }

private:
    std::vector<SourcePart> parts_;
    ExtentTable table_;
};

template <class Visit>
void ExtentTable::visit(std::int64_t offset, std::int64_t length, Visit &&visit) const
{
    if (offset < 0 || offset >= size_ || length <= 0)
        return;
    length = std::min(length, size_ - offset);
    for (std::size_t i = indexAt(offset); length > 0; ++i) {
        const std::int64_t at = offset - starts_[i];
        const std::int64_t piece = std::min(length, extents_[i].length - at);
        visit(extents_[i], extents_[i].offset + at, piece);
        offset += piece;
        length -= piece;
    }
}

} // namespace morvane
