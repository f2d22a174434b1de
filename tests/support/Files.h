#pragma once
// Test files and folders, and the programs tests run on them.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace morvane::test {

// A file that make-test-media made.
inline QString media(const QString &name) { return QStringLiteral(MORVANE_TEST_MEDIA "/") + name; }

// Bytes as random as a compressed stream, the same for the same seed.
inline QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

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

// The bytes of a file whose name may not be text; "none" when missing, "-" when not a file.
inline QByteArray contentOf(const QByteArray &path)
{
    struct stat status {};
    if (::stat(path, &status) != 0)
        return "none";
    if (!S_ISREG(status.st_mode))
        return "-";
    QByteArray bytes(status.st_size, 0);
    std::ifstream(path.constData(), std::ios::binary).read(bytes.data(), bytes.size());
    return bytes;
}

// Every name in dir as bytes, hidden ones too, sorted.
inline QByteArrayList listing(const QByteArray &dir)
{
    QByteArrayList names;
    for (const auto &entry : std::filesystem::directory_iterator(dir.constData()))
        names << QByteArray::fromStdString(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

// A temporary folder, removed with every name in it; QTemporaryDir leaves names that are not text behind.
struct Folder {
    QByteArray path = [] {
        char name[] = "/tmp/morvane-test.XXXXXX";
        return QByteArray(::mkdtemp(name));
    }();
    QByteArray operator/(const QByteArray &name) const { return path + "/" + name; }
    ~Folder() { std::filesystem::remove_all(path.constData()); }
};

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
