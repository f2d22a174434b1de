#pragma once
// Test files: whole reads and writes, and the clip the byte rule cuts.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace morvane::test {

// The file's bytes, or "(no file)" when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(no file)");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// For media whose size varies; where the size is known, write the range out
// by hand. R = size / D bytes a second; from 0-based byte R*start - 1 (byte 0
// for a start of 0), 4096 * (R*(end - start) / 4096 + 1) + 1 bytes, cut short
// at the source's end.
inline QByteArray clipOf(const QByteArray &source, qint64 d, qint64 start, qint64 end)
{
    const qint64 r = source.size() / d;
    return source.mid(start == 0 ? 0 : r * start - 1, 4096 * (r * (end - start) / 4096 + 1) + 1);
}

} // namespace morvane::test
