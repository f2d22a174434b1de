#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>

namespace morvane {

// Flags keep the window's own convention: -1 is true, 0 is false.
using Flag = std::int16_t;
constexpr Flag True = -1;
constexpr Flag False = 0;

// What every handler of the window reads or writes. One instance, owned by
// the window for its whole life.
struct EditingState {
    QString SourceFile;      // empty: no file is open
    QStringList SourceParts; // a whole DVD title opened from SourceFile; empty for the file alone
    std::int32_t StartSecond = 0;
    std::int32_t EndSecond = 0;
    std::int32_t MarkScale = 0; // twips per second of slider value
    Flag IsPlaying = False;

    bool fileOpen() const { return SourceFile != QString(); }
    bool selectionValid() const { return StartSecond < EndSecond; }
    // What the player and the cut read, one after another, as one stream.
    QStringList sourceFiles() const { return SourceParts.isEmpty() ? QStringList{SourceFile} : SourceParts; }
};

} // namespace morvane
