#pragma once
#include <QList>
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
    // A title of the DVD that SourceFile names or lies in, read from its
    // tables; 0 for a file. Times are then title time.
    int Title = 0;
    int TitleCount = 0;
    QList<double> ChapterSeconds; // where each chapter of the title starts
    // The chapter (0-based) at whose start a mark was taken, or -1.
    int StartChapter = -1;
    int EndChapter = -1;
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
