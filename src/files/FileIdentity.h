#pragma once
#include <QFile>
#include <QString>
#include <sys/stat.h>

namespace morvane {

// Whether two paths name the same file, however reached: symbolic links,
// "..", hard links. False when either does not exist.
inline bool sameFile(const QString &a, const QString &b)
{
    struct stat sa {}, sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace morvane
