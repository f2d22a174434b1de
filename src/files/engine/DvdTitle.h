#pragma once
// A DVD title's video is split into VTS_nn_1.VOB .. VTS_nn_9.VOB of at most
// 1 GiB each, and the stream runs on from one file into the next. This finds
// the parts a chosen file belongs to.

#include <QStringList>
#include <optional>

namespace morvane {

struct DvdTitle {
    QStringList parts; // full paths of parts 1..N, in order
    int chosenPart = 0; // m of the chosen file, 1-based
};

// The title path belongs to: it is named VTS_nn_m.VOB in any letter case
// with m from 1 to 9, and its folder holds parts 1..N of the same nn with no
// gap, N >= 2. The menu file (part 0) is never part of a title.
std::optional<DvdTitle> findDvdTitle(const QString &path);

} // namespace morvane
