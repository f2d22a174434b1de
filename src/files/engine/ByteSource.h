#pragma once
// Random-access reading of a source that may be one file or the parts of a
// DVD title read back to back. Knows nothing of widgets.

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
    std::int64_t size; // bytes this part adds to the stream
    std::string name;
};

// Parts read as one stream in the given order. A part that holds fewer bytes
// than its size says fails the read rather than shifting what follows.
class JoinedByteSource : public ByteSource {
public:
    explicit JoinedByteSource(std::vector<SourcePart> parts);
    std::int64_t size() const override { return size_; }
    std::size_t read(std::int64_t offset, void *buf, std::size_t len) override;
    std::string name() const override;

private:
    std::vector<SourcePart> parts_;
    std::vector<std::int64_t> starts_; // offset of each part in the stream
    std::int64_t size_ = 0;
};

} // namespace morvane
