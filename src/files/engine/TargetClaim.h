#pragma once
// The file a clip grows in, and the one step that gives it the target's
// name. A new name is claimed so that no file can be replaced by it: the
// clip is linked to the name, which fails when anything has appeared there.
// A replacement is a rename over the old file, so its name only ever shows
// the old file or the whole clip.

#include <QByteArray>
#include <functional>
#include <sys/stat.h>

#include "files/engine/Fd.h"

namespace morvane {

enum class Replace { Never, Allowed };

// The steps that finish a clip, in their order.
enum class CommitStep { Flushed, Named, FolderFlushed };

// What a target name leads to.
struct TargetPlace {
    QByteArray shown;  // as the caller gave it, for messages
    QByteArray folder; // of the file that is written: a symlink's target's
    QByteArray name;   // in folder
    bool exists = false;
    struct stat status {}; // when it exists, the file it leads to
};

// Throws CutError for a name that leads to anything but a regular file
// (naming it: "... is a directory"), and TargetInUse for the source itself
// or a file that cannot be told apart from it.
TargetPlace examineTarget(const QByteArray &target, int sourceFd, const struct stat &source);

class TargetClaim {
public:
    // Checks the target as examineTarget does, refuses an existing one with
    // TargetTaken unless replace is Allowed, makes sure a new name can be
    // created at all, and opens the file the clip is written to.
    TargetClaim(const QByteArray &target, Replace replace, int sourceFd, const struct stat &source);
    ~TargetClaim(); // an unfinished clip goes

    int fd() const { return file_.get(); }
    // Hidden and named after the target where the file system has no unnamed
    // files; empty otherwise.
    const QByteArray &partialName() const { return partial_; }

    // Flushes the clip, then gives it the target's name. Throws TargetTaken
    // when a new name was taken meanwhile; that file is kept.
    void commit(const std::function<void(CommitStep)> &onStep);

private:
    void openClipFile();
    QByteArray freePartialName() const;
    int linkUnnamedTo(const QByteArray &name);
    void claimNewName();
    void replaceName();
    void recheckReplaceable();
    [[noreturn]] void failCreate(int error) const;

    TargetPlace place_;
    Replace replace_;
    int sourceFd_;
    struct stat source_;
    Fd folder_;
    bool folderSyncable_ = true;
    long nameMax_ = 255;
    Fd file_;
    QByteArray partial_;
    bool committed_ = false;
};

} // namespace morvane
