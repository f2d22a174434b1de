#include "files/engine/FileName.h"

#include "files/engine/CutError.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when the
// byte there starts none.
int utf8Sequence(const QByteArray &s, qsizetype i, char32_t &point)
{
    const auto byte = [&](qsizetype k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    int length = lead < 0x80                    ? 1
                 : lead >= 0xC2 && lead <= 0xDF ? 2
                 : lead >= 0xE0 && lead <= 0xEF ? 3
                 : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                : 0;
    if (length == 0 || i + length > s.size())
        return 0;
    point = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        point = point << 6 | (byte(i + k) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < least[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

// Would hide or reorder what follows on a terminal or in a message box.
bool unseen(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E)
           || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

} // namespace

std::string quotedName(const QByteArray &name)
{
    std::string text = "\"";
    for (qsizetype i = 0; i < name.size();) {
        char32_t point = 0;
        const int length = utf8Sequence(name, i, point);
        if (length > 0 && !unseen(point)) {
            text += point == '\\' ? "\\\\" : name.mid(i, length).toStdString();
            i += length;
            continue;
        }
        for (int k = 0; k < std::max(length, 1); ++k, ++i) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(name[i]));
            text += escaped;
        }
    }
    return text + "\"";
}

std::optional<QString> nameAsText(const QByteArray &name)
{
    const QString text = QFile::decodeName(name);
    if (name.contains('\0') || QFile::encodeName(text) != name)
        return std::nullopt;
    return text;
}

QByteArray exactFileName(const QString &name)
{
    const QByteArray bytes = QFile::encodeName(name);
    if (name.isEmpty() || nameAsText(bytes) != name || name.contains(QChar::ReplacementCharacter))
        throw CutError("The name " + quotedName(bytes)
                       + " cannot stand for one file exactly: "
                         "the file's true name holds bytes that are not text. Rename the file.");
    return bytes;
}

void requireReadableFile(const QByteArray &name)
{
    struct stat status {};
    if (name.contains('\0'))
        throw UnreadableFile(errnoText(ENOENT));
    if (::stat(name.constData(), &status) != 0)
        throw UnreadableFile(errnoText(errno));
    if (S_ISDIR(status.st_mode))
        throw UnreadableFile(errnoText(EISDIR));
    if (!S_ISREG(status.st_mode))
        throw UnreadableFile("It is not a regular file");
    // Should the name lead to a FIFO by now, the open still returns at once.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw UnreadableFile(errnoText(errno));
    ::close(fd);
}

} // namespace morvane
