#pragma once
// A DVD title's video is split into VTS_nn_1.VOB .. VTS_nn_9.VOB of at most
// 1 GiB each, and the stream runs on from one file into the next. This finds
// the parts a chosen file belongs to.

#include <QStringList>
#include <optional>

namespace morvane {

struct DvdTitle {
    QStringList parts;  // full paths of VTS_nn_1.VOB .. VTS_nn_N.VOB, in order
    int chosenPart = 0; // m of the chosen file, 1-based
};

// The title path belongs to: it is named VTS_nn_m.VOB in any letter case
// with m from 1 to 9, and its folder holds VTS_nn_1.VOB up to some
// VTS_nn_N.VOB with none missing, N >= 2. The menu file VTS_nn_0.VOB never
// belongs to a title.
std::optional<DvdTitle> findDvdTitle(const QString &path);

} // namespace morvane
