// Loaded by morvane-cut only when it has to read a duration: the player
// brings Qt Multimedia and Gui with it, which a cut given --duration never
// needs to load.

#include "playback/media/QtMediaPlayer.h"

#include <QFile>

#include <cstdio>
#include <exception>

extern "C" __attribute__((visibility("default"))) int morvane_read_duration(const char *path, double *seconds,
                                                                            char *error, std::size_t errorSize)
{
    try {
        *seconds = morvane::readDuration(QFile::decodeName(path));
        return 0;
    } catch (const std::exception &e) {
        std::snprintf(error, errorSize, "%s", e.what());
        return 1;
    }
}
