#pragma once
// File names are bytes. The engine takes them as bytes and uses them
// unchanged in every system call; these turn them into text only for people.

#include <QByteArray>
#include <QString>
#include <string>

namespace morvane {

// The name in double quotes, as valid UTF-8 that shows every byte: bytes
// that are not UTF-8, control and direction characters come out as \xNN,
// and a backslash as \\.
std::string quotedName(const QByteArray &name);

// The bytes that name the file a person picked as text. Throws CutError when
// the text cannot stand for one name exactly: when it does not survive the
// trip to bytes and back, or holds U+FFFD, the mark of bytes that were not
// text in the first place.
QByteArray exactFileName(const QString &name);

} // namespace morvane
