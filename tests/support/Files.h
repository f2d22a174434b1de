#pragma once
// Test files and folders, and the programs tests run on them.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace morvane::test {

// A file that make-test-media made.
inline QString media(const QString &name) { return QStringLiteral(MORVANE_TEST_MEDIA "/") + name; }

// The file's bytes, or "(no file)" when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(no file)");
}

// bytes at offset in a file of size bytes (by default just the bytes); the rest is a hole that costs no disk.
inline bool writeFile(const QString &path, const QByteArray &bytes, qint64 size = -1, qint64 offset = 0)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.resize(size < 0 ? offset + bytes.size() : size) && f.seek(offset)
           && f.write(bytes) == bytes.size();
}

// Every name in dir, hidden ones too, sorted and spaced.
inline QString entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).join(' ');
}

struct Ran {
    int exitCode = -1; // -1: did not start or did not finish normally
    QString out, err;
};

inline Ran run(const QString &program, const QStringList &args, const QString &inDir = {}, int withinMs = 60000)
{
    QProcess p;
    p.setWorkingDirectory(inDir);
    p.start(program, args);
    const bool done = p.waitForFinished(withinMs) && p.exitStatus() == QProcess::NormalExit;
    return {done ? p.exitCode() : -1, p.readAllStandardOutput(), p.readAllStandardError()};
}

} // namespace morvane::test
