#pragma once
// File names are bytes. The engine takes them as bytes and uses them
// unchanged in every system call; these turn them into text only for people.

#include <QByteArray>
#include <QString>
#include <optional>
#include <stdexcept>
#include <string>

namespace morvane {

// The name in double quotes, as valid UTF-8 that shows every byte: bytes
// that are not UTF-8, control and direction characters come out as \xNN,
// and a backslash as \\.
std::string quotedName(const QByteArray &name);

// The name as text, when text holds these bytes exactly; nothing when they
// are not UTF-8 or hold a NUL, so that no other file's name comes back.
std::optional<QString> nameAsText(const QByteArray &name);

// The bytes that name the file a person picked as text. Throws CutError when
// the text cannot stand for one name exactly: when it does not survive the
// trip to bytes and back, or holds U+FFFD, the mark of bytes that were not
// text in the first place.
QByteArray exactFileName(const QString &name);

// The file cannot be opened to be read; what() is the system's reason,
// without a final stop ("No such file or directory").
class UnreadableFile : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws UnreadableFile unless name is a regular file, or a link to one,
// that opens for reading. Anything else is never opened, so a FIFO or a
// device cannot block or answer.
void requireReadableFile(const QByteArray &name);

} // namespace morvane
