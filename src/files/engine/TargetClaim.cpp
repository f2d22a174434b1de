#include "files/engine/TargetClaim.h"

#include "files/engine/CutError.h"
#include "files/engine/FileName.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>

namespace morvane {

namespace {

constexpr char kPartialMark[] = ".morvane-partial-";
constexpr int kSuffixLength = 6;

std::string kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISFIFO(mode))
        return "a named pipe (FIFO)";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

[[noreturn]] void refuseKind(const QByteArray &shown, const std::string &kind)
{
    throw TargetRefused("The target " + quotedName(shown) + " is " + kind + "; a clip can only replace a file.");
}

[[noreturn]] void failCreateAs(const QByteArray &shown, int error)
{
    throw CutError("The clip cannot be created as " + quotedName(shown) + ": " + errnoText(error) + ".");
}

[[noreturn]] void refuseInUse(const QByteArray &shown)
{
    throw TargetInUse("Cannot overwrite file in use: " + quotedName(shown)
                      + " is the source file, or cannot be told apart from it.");
}

bool readFully(int fd, char *into, std::int64_t length, std::int64_t offset)
{
    while (length > 0) {
        const ssize_t got = ::pread(fd, into, static_cast<size_t>(length), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        into += got, offset += got, length -= got;
    }
    return true;
}

// The same file reached by another road (a FUSE view of the folder, say)
// shows another device and inode, but the same size, time and bytes. A true
// copy looks the same; refusing it loses nothing.
bool indistinguishable(int sourceFd, const struct stat &source, const QByteArray &path, const struct stat &target)
{
    if (source.st_size != target.st_size || source.st_mtim.tv_sec != target.st_mtim.tv_sec
        || source.st_mtim.tv_nsec != target.st_mtim.tv_nsec)
        return false;
    const Fd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return true; // cannot look inside: size and time must do
    constexpr int kSamples = 16;
    constexpr std::int64_t kSample = 4096;
    const std::int64_t size = source.st_size, length = std::min(size, kSample);
    char a[kSample], b[kSample];
    for (int i = 0; i < kSamples; ++i) {
        const std::int64_t at = (size - length) * i / (kSamples - 1);
        if (!readFully(sourceFd, a, length, at) || !readFully(fd.get(), b, length, at))
            return true;
        if (std::memcmp(a, b, static_cast<size_t>(length)) != 0)
            return false;
    }
    return true;
}

void splitInto(const QByteArray &path, TargetPlace &place)
{
    const qsizetype slash = path.lastIndexOf('/');
    place.folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    place.name = path.mid(slash + 1);
}

// Cuts a name to at most length bytes without splitting a UTF-8 character.
QByteArray cutName(const QByteArray &name, qsizetype length)
{
    if (name.size() <= length)
        return name;
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
        --length;
    return name.left(length);
}

} // namespace

TargetPlace examineTarget(const QByteArray &target, int sourceFd, const struct stat &source)
{
    TargetPlace place;
    place.shown = target;
    if (target.isEmpty() || target.contains('\0'))
        failCreateAs(target, ENOENT);
    struct stat link {};
    if (::lstat(target.constData(), &link) != 0) {
        if (errno != ENOENT)
            failCreateAs(target, errno);
        splitInto(target, place);
        return place;
    }
    if (!S_ISLNK(link.st_mode)) {
        place.status = link;
    } else if (::stat(target.constData(), &place.status) != 0) {
        if (errno == ENOENT)
            refuseKind(target, "a symbolic link that leads nowhere");
        failCreateAs(target, errno);
    }
    if (!S_ISREG(place.status.st_mode))
        refuseKind(target, kindOf(place.status.st_mode));
    if ((place.status.st_dev == source.st_dev && place.status.st_ino == source.st_ino)
        || indistinguishable(sourceFd, source, target, place.status))
        refuseInUse(target);
    place.exists = true;
    if (S_ISLNK(link.st_mode)) {
        // The link stays; the file it leads to is replaced.
        char *resolved = ::realpath(target.constData(), nullptr);
        if (!resolved)
            failCreateAs(target, errno);
        splitInto(QByteArray(resolved), place);
        std::free(resolved);
    } else {
        splitInto(target, place);
    }
    return place;
}

TargetClaim::TargetClaim(const QByteArray &target, Replace replace, int sourceFd, const struct stat &source)
    : place_(examineTarget(target, sourceFd, source)), replace_(replace), sourceFd_(sourceFd), source_(source)
{
    if (place_.exists && replace_ == Replace::Never)
        throw TargetTaken(quotedName(target) + " already exists.");
    if (place_.name.isEmpty() || place_.name == "." || place_.name == "..")
        failCreate(EISDIR);
    folder_.reset(::open(place_.folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_.valid() && errno == EACCES) {
        folderSyncable_ = false; // a folder we may write to but not list
        folder_.reset(::open(place_.folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (!folder_.valid())
        failCreate(errno);
    const long nameMax = ::fpathconf(folder_.get(), _PC_NAME_MAX);
    if (nameMax > 0)
        nameMax_ = nameMax;

    // A name the file system will not take fails now, not after the copy:
    // try it, and let it go at once.
    if (!place_.exists) {
        const int probe = ::openat(folder_.get(), place_.name.constData(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (probe < 0 && errno == EEXIST && replace_ == Replace::Never)
            throw TargetTaken(quotedName(target) + " already exists.");
        if (probe < 0 && errno != EEXIST)
            failCreate(errno);
        if (probe >= 0) {
            ::close(probe);
            ::unlinkat(folder_.get(), place_.name.constData(), 0);
        }
    }
    openClipFile();
}

TargetClaim::~TargetClaim()
{
    if (!committed_ && !partial_.isEmpty())
        ::unlinkat(folder_.get(), partial_.constData(), 0);
}

void TargetClaim::failCreate(int error) const { failCreateAs(place_.shown, error); }

// ".NAME.morvane-partial-XXXXXX", with NAME cut short where the whole would
// pass the file system's limit on names.
QByteArray TargetClaim::freePartialName() const
{
    static std::mt19937 random{std::random_device{}()};
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix;
    for (int i = 0; i < kSuffixLength; ++i)
        suffix += letters[random() % (sizeof letters - 1)];
    const qsizetype room = nameMax_ - 1 - qsizetype(std::strlen(kPartialMark)) - kSuffixLength;
    return "." + cutName(place_.name, room) + kPartialMark + suffix;
}

void TargetClaim::openClipFile()
{
    // Unnamed where the file system allows, so nothing is left behind even
    // when the process is killed.
    file_.reset(::openat(folder_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (!file_.valid()) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS)
            failCreate(errno);
        for (int attempt = 0; !file_.valid(); ++attempt) {
            partial_ = freePartialName();
            file_.reset(::openat(folder_.get(), partial_.constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (!file_.valid() && (errno != EEXIST || attempt > 100)) {
                partial_.clear();
                failCreate(errno);
            }
        }
    }
    // A replacement keeps the old file's permissions; where the file system
    // will not set them, the clip keeps the default ones.
    if (place_.exists)
        (void)::fchmod(file_.get(), place_.status.st_mode & 07777);
}

void TargetClaim::commit(const std::function<void(CommitStep)> &onStep)
{
    if (::fsync(file_.get()) != 0)
        throw CutError("The clip could not be flushed to disk: " + errnoText(errno) + ".");
    if (onStep)
        onStep(CommitStep::Flushed);
    if (replace_ == Replace::Never)
        claimNewName();
    else
        replaceName();
    committed_ = true;
    if (onStep)
        onStep(CommitStep::Named);
    // Makes the new name itself survive a crash. The clip has its name by
    // now; a folder that cannot be flushed does not undo that.
    if (folderSyncable_)
        (void)::fsync(folder_.get());
    if (onStep)
        onStep(CommitStep::FolderFlushed);
}

// Returns 0 or the errno value.
int TargetClaim::linkUnnamedTo(const QByteArray &name)
{
    const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
    if (::linkat(AT_FDCWD, self.c_str(), folder_.get(), name.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    const int error = errno;
    if (error == ENOENT && ::linkat(file_.get(), "", folder_.get(), name.constData(), AT_EMPTY_PATH) == 0)
        return 0; // no /proc
    return error;
}

void TargetClaim::claimNewName()
{
    const auto taken = [&] {
        return TargetTaken(quotedName(place_.shown)
                           + " appeared while the clip was being written; that file was kept.");
    };
    const char *name = place_.name.constData();
    if (partial_.isEmpty()) {
        const int error = linkUnnamedTo(place_.name);
        if (error == EEXIST)
            throw taken();
        if (error != 0)
            failCreate(error);
        return;
    }
    // A hard link fails where the name is taken; where the file system has
    // none, a rename that refuses to replace.
    int error = ::linkat(folder_.get(), partial_.constData(), folder_.get(), name, 0) == 0 ? 0 : errno;
    if (error == 0) {
        ::unlinkat(folder_.get(), partial_.constData(), 0);
        partial_.clear();
        return;
    }
    if (error != EEXIST)
        error =
            ::renameat2(folder_.get(), partial_.constData(), folder_.get(), name, RENAME_NOREPLACE) == 0 ? 0 : errno;
    if (error == EINVAL || error == ENOSYS) {
        // Neither: look, then rename. Only a file made in the instant
        // between the two could be lost.
        struct stat status {};
        error = ::fstatat(folder_.get(), name, &status, AT_SYMLINK_NOFOLLOW) == 0           ? EEXIST
                : ::renameat(folder_.get(), partial_.constData(), folder_.get(), name) == 0 ? 0
                                                                                            : errno;
    }
    if (error == EEXIST)
        throw taken();
    if (error != 0)
        failCreate(error);
    partial_.clear();
}

// What the name shows now must still be a file that may be replaced, and
// not the source.
void TargetClaim::recheckReplaceable()
{
    struct stat status {};
    if (::fstatat(folder_.get(), place_.name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    const QByteArray path = place_.folder + "/" + place_.name;
    if (!S_ISREG(status.st_mode))
        refuseKind(place_.shown, kindOf(status.st_mode));
    if ((status.st_dev == source_.st_dev && status.st_ino == source_.st_ino)
        || indistinguishable(sourceFd_, source_, path, status))
        refuseInUse(place_.shown);
}

void TargetClaim::replaceName()
{
    recheckReplaceable();
    if (partial_.isEmpty()) {
        for (int attempt = 0; partial_.isEmpty(); ++attempt) {
            const QByteArray name = freePartialName();
            const int error = linkUnnamedTo(name);
            if (error == 0)
                partial_ = name;
            else if (error != EEXIST || attempt > 100)
                failCreate(error);
        }
    }
    if (::renameat(folder_.get(), partial_.constData(), folder_.get(), place_.name.constData()) != 0)
        failCreate(errno); // the destructor drops the partial file
    partial_.clear();
}

} // namespace morvane
