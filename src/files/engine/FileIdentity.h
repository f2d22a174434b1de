#pragma once
// Whether two names lead to the same file, however reached: symbolic links,
// "..", hard links.

#include <QFile>
#include <QString>
#include <sys/stat.h>

namespace morvane {

// False when path does not exist.
inline bool sameFile(const struct stat &file, const QString &path)
{
    struct stat other {};
    return ::stat(QFile::encodeName(path).constData(), &other) == 0 && other.st_dev == file.st_dev
           && other.st_ino == file.st_ino;
}

// False when either does not exist.
inline bool sameFile(const QString &a, const QString &b)
{
    struct stat first {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 && sameFile(first, b);
}

} // namespace morvane
