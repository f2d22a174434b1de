// Loaded by morvane-cut only when it has to read a duration: the player
// brings Qt Multimedia and Gui with it, which a cut given --duration never
// needs to load.

#include "playback/media/QtMediaPlayer.h"

#include <QFile>

#include <cstdio>
#include <exception>

// The files are read one after another as one stream, as a DVD title's parts.
extern "C" __attribute__((visibility("default"))) int
morvane_read_duration(const char *const *paths, int count, double *seconds, char *error, std::size_t errorSize)
{
    try {
        QStringList files;
        for (int i = 0; i < count; ++i)
            files << QFile::decodeName(paths[i]);
        *seconds = morvane::readDuration(files);
        return 0;
    } catch (const std::exception &e) {
        std::snprintf(error, errorSize, "%s", e.what());
        return 1;
    }
}
