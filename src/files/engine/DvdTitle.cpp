#include "files/engine/DvdTitle.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <map>

namespace morvane {

std::optional<DvdTitle> findDvdTitle(const QString &path)
{
    static const QRegularExpression partName(QStringLiteral("^VTS_(\\d\\d)_([1-9])\\.VOB$"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QFileInfo chosen(path);
    const auto match = partName.match(chosen.fileName());
    if (!match.hasMatch() || !chosen.isFile())
        return std::nullopt;
    const QString set = match.captured(1);

    // Letter case may differ between parts (copies from other systems), so
    // the folder is read rather than names guessed.
    std::map<int, QString> found;
    const QDir folder = chosen.absoluteDir();
    for (const QFileInfo &entry : folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        const auto m = partName.match(entry.fileName());
        if (!m.hasMatch() || m.captured(1) != set)
            continue;
        const int number = m.captured(2).toInt();
        if (found.count(number)) // two spellings of one part: which is meant is unclear
            return std::nullopt;
        found[number] = entry.absoluteFilePath();
    }
    const int count = int(found.size());
    if (count < 2 || found.rbegin()->first != count) // numbered from 1 with none missing
        return std::nullopt;

    DvdTitle title;
    for (const auto &[number, file] : found)
        title.parts << file;
    title.chosenPart = match.captured(2).toInt();
    return title;
}

} // namespace morvane
