#pragma once
// A DVD folder's titles as its own tables (the IFO files) describe them,
// read with libdvdread. Times are in 90 kHz ticks from the title's start, as
// the tables give them: to the frame. Knows nothing of widgets; names are
// bytes, used as given.

#include <QByteArray>
#include <QByteArrayList>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace morvane {

// The folder is no DVD, or its tables are missing or damaged; what() is a
// sentence that names the file and what is wrong with it.
class DiscError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DiscCell {
    int vobId = 0;
    int cellId = 0;
    std::uint32_t firstSector = 0; // in the title set's VOB files, read back to back
    std::uint32_t lastVobuStart = 0;
    std::uint32_t lastSector = 0;
    std::int64_t ticks = 0;      // playback time
    std::int64_t startTicks = 0; // where the cell starts in the title
    bool angleBlock = false;     // one of the cells of an angle block
    bool firstAngle = false;     // the first angle's cell of its block
    bool interleaved = false;

    // Whether the title plays this cell when the first angle is chosen.
    bool played() const { return !angleBlock || firstAngle; }
};

struct DiscChapter {
    std::int64_t startTicks = 0;
    std::size_t firstCell = 0; // index into DiscTitle::cells
};

struct DiscAudio {
    std::string language; // ISO 639 code, empty when the tables give none
    std::string format;   // "AC-3", "MPEG", "LPCM", "DTS", ...
    int channels = 0;
};

struct DiscTitle {
    int number = 0;   // 1-based, across the disc
    int titleSet = 0; // VTS_nn
    int angles = 1;
    std::int64_t durationTicks = 0;
    std::vector<DiscChapter> chapters;
    std::vector<DiscAudio> audio;
    std::vector<DiscCell> cells; // in play order

    bool hasAngleBlocks() const;
};

struct DiscTitleSet {
    int number = 0;
    QByteArrayList vobs;                   // VTS_nn_1.VOB .. VTS_nn_N.VOB, full paths
    std::vector<std::uint32_t> vobuStarts; // every VOBU's first sector, ascending
};

struct Disc {
    QByteArray folder; // the VIDEO_TS folder
    std::vector<DiscTitle> titles;
    std::vector<DiscTitleSet> titleSets;

    // Throw DiscError for a number the disc does not have.
    const DiscTitle &title(int number) const;
    const DiscTitleSet &titleSet(int number) const;
};

// Opens the disc whose VIDEO_TS folder is path, holds it, or holds the file
// path (a .IFO, .BUP or .VOB). Throws DiscError.
Disc openDisc(const QByteArray &path);

// The VIDEO_TS folder that path names, holds or lies in; empty when there is
// none. Reads no table.
QByteArray discFolder(const QByteArray &path);

// "1:05:03.40": hours only when there are any.
std::string ticksText(std::int64_t ticks);

} // namespace morvane
