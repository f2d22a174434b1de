// Loaded by morvane-cut only when it has to read a duration: the player
// brings Qt Multimedia and Gui with it, which a cut given --duration never
// needs to load.

#include "playback/media/QtMediaPlayer.h"

#include <QFile>

#include <cstdio>
#include <exception>

extern "C" __attribute__((visibility("default"))) int morvane_read_duration(const char *const *paths, int count,
                                                                            double *seconds, char *error,
                                                                            std::size_t errorSize)
{
    try {
        if (count != 1)
            throw morvane::PlayerError("the player reads the duration of one file at a time");
        *seconds = morvane::readDuration(QFile::decodeName(paths[0]));
        return 0;
    } catch (const std::exception &e) {
        std::snprintf(error, errorSize, "%s", e.what());
        return 1;
    }
}
