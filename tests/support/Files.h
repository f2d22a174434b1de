#pragma once
// Test files, folders and programs.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace morvane::test {

// made by make-test-media
inline QString media(const QString &name) { return QString(MORVANE_TEST_MEDIA "/") + name; }

// compressed-stream-like; same seed, same bytes
inline QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// "(no file)" when unreadable.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(no file)");
}

// bytes at offset; the rest of size a sparse hole
inline bool writeFile(const QString &path, const QByteArray &bytes, qint64 size = -1, qint64 offset = 0)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.resize(size < 0 ? offset + bytes.size() : size) && f.seek(offset)
           && f.write(bytes) == bytes.size();
}

// name need not be text; "none": missing, "-": not a file.
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

// hidden ones too, sorted.
inline QByteArrayList listing(const QByteArray &dir)
{
    QByteArrayList names;
    for (const auto &entry : std::filesystem::directory_iterator(dir.constData()))
        names << QByteArray::fromStdString(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

// Removes non-text names too, unlike QTemporaryDir.
struct Folder {
    QByteArray path = [] {
        char name[] = "/tmp/morvane-test.XXXXXX";
        return QByteArray(::mkdtemp(name));
    }();
    QByteArray operator/(const QByteArray &name) const { return path + "/" + name; }
    ~Folder() { std::filesystem::remove_all(path.constData()); }
};

struct Ran {
    int exitCode = -1; // -1: no normal exit
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
