// Open: the only way a source file enters the program. The button asks for
// the file; a file given by name (command line, drop) joins after that step.

#include "app/ui/Form1.h"
#include "files/engine/CutError.h"
#include "files/engine/DvdTitle.h"
#include "files/engine/FileName.h"
#include "selection/MarkerTrack.h"
#include "state/TimeText.h"

#include <QScopeGuard>

namespace morvane {

void Form1::Command4_Click()
{
    try {
        stopForOpen();
        Cdlg.Filter = QStringLiteral("VOB Files (*.vob)|*.vob|All Files (*.*)|*.*");
        Cdlg.ShowOpen(); // a cancel leaves the previous file loaded, stopped
        openSourceFile(Cdlg.FileName);
    } catch (const DialogCancelled &) {
        // The previous file stays loaded, stopped.
    } catch (const std::exception &e) {
        // The player refused to start, or the duration is out of range: what
        // was done stays done.
        endQuietly("Open", e);
    }
}

void Form1::stopForOpen()
{
    mp_mystop();
    showPlayCaption();
    T->stop();
}

// A part of a split DVD title may open as the whole title, whose timeline
// the position, the marks and both cuts then use.
QStringList Form1::filesToOpen(const QString &path)
{
    const auto title = findDvdTitle(path);
    if (!title)
        return {path};
    const QString question = QStringLiteral("This file is part %1 of a DVD title of %2 files. Open the whole title?")
                                 .arg(title->chosenPart)
                                 .arg(title->parts.size());
    return dialogs_.askYesNo(question) ? title->parts : QStringList{path};
}

// By value: the dialog's file name, which it may come from, is cleared here.
void Form1::openSourceFile(QString path)
{
    try {
        exactFileName(path); // text that may stand for another file's bytes opens nothing
    } catch (const CutError &e) {
        tellCannotPlay(path, e);
        return;
    }
    const QStringList files = filesToOpen(path);
    H->setValue(0);
    mp_myclose();
    Label7->setText(ResetText);
    Label9->setText(ResetText);
    Label3->setText(ResetText);
    state.StartSecond = 0;
    state.EndSecond = 0;
    {
        // The player runs window events while it loads; nothing may start
        // another Open or act on the half-open file in that time.
        setEditingEnabled(false);
        const auto unlock = qScopeGuard([this] {
            if (!unloaded_)
                setEditingEnabled(true);
        });
        try {
            player_.setFileName(files);
        } catch (const PlayerError &e) {
            if (!unloaded_) // closed while loading: the program is ending
                tellCannotPlay(path, e);
            return;
        }
    }
    if (unloaded_)
        return;
    state.SourceFile = path;
    state.SourceParts = files.size() > 1 ? files : QStringList();
    Cdlg.FileName = QString();
    mp_myopen();
    showPauseCaption();
    T->start();

    if (!takeDuration())
        return; // a file without length: the lines stay where they were
    Line1->setX1(StartLineOffset);
    Line1->setX2(StartLineOffset);
    Line2->setX1(TrackEnd);
    Line2->setX2(TrackEnd);
}

} // namespace morvane
