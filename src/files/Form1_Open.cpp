// Open: the only way a source file enters the program. The button asks for
// the file; a file given by name (command line, drop) joins after that step.

#include "app/ui/Form1.h"
#include "files/engine/CutError.h"
#include "files/engine/DvdDisc.h"
#include "files/engine/DvdTitle.h"
#include "files/engine/FileName.h"
#include "files/engine/TitleStream.h"
#include "selection/MarkerTrack.h"
#include "state/TimeText.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>

namespace morvane {

namespace {

QList<TitleChoice> titleChoices(const Disc &disc)
{
    QList<TitleChoice> rows;
    for (const DiscTitle &title : disc.titles) {
        QStringList audio;
        for (const DiscAudio &stream : title.audio)
            audio << QString::fromStdString((stream.language.empty() ? "" : stream.language + " ") + stream.format + " "
                                            + std::to_string(stream.channels) + "ch");
        rows << TitleChoice{title.number, QString::fromStdString(ticksText(title.durationTicks)),
                            int(title.chapters.size()), audio.join(QStringLiteral(", "))};
    }
    return rows;
}

int longestTitle(const Disc &disc)
{
    const auto longest = std::max_element(disc.titles.begin(), disc.titles.end(), [](const auto &a, const auto &b) {
        return a.durationTicks < b.durationTicks;
    });
    return longest->number;
}

} // namespace

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

// A DVD whose tables read opens on its titles: the only one, or the one the
// user picks. 0 opens the file as itself; std::nullopt when the user
// cancels. A folder's tables that do not read are its reason not to play.
std::optional<int> Form1::titleToOpen(const QByteArray &name, int &titleCount)
{
    titleCount = 0;
    if (discFolder(name).isEmpty())
        return 0;
    Disc disc;
    try {
        disc = openDisc(name);
    } catch (const DiscError &e) {
        if (QFileInfo(QFile::decodeName(name)).isDir())
            throw;
        return 0; // its VOBs play as files, as they would without tables
    }
    titleCount = int(disc.titles.size());
    if (disc.titles.size() == 1)
        return disc.titles.front().number;
    return dialogs_.chooseTitle(titleChoices(disc), longestTitle(disc));
}

// By value: the dialog's file name, which it may come from, is cleared here.
void Form1::openSourceFile(QString path)
{
    QByteArray name;
    int titleCount = 0;
    std::optional<int> title;
    std::unique_ptr<OpenTitle> opened;
    try {
        name = exactFileName(path); // text that may stand for another file's bytes opens nothing
        title = titleToOpen(name, titleCount);
        if (title && *title > 0)
            opened = std::make_unique<OpenTitle>(name, *title); // where its chapters start
    } catch (const std::exception &e) {
        tellCannotPlay(path, e);
        return;
    }
    if (!title)
        return; // the title list was cancelled: nothing is opened
    const QStringList files = *title > 0 ? QStringList{path} : filesToOpen(path);
    H->setValue(0);
    mp_myclose();
    Label7->setText(ResetText);
    Label9->setText(ResetText);
    Label3->setText(ResetText);
    state.StartSecond = 0;
    state.EndSecond = 0;
    state.StartChapter = -1;
    state.EndChapter = -1;
    {
        // The player runs window events while it loads; nothing may start
        // another Open or act on the half-open file in that time.
        setEditingEnabled(false);
        const auto unlock = qScopeGuard([this] {
            if (!unloaded_)
                setEditingEnabled(true);
        });
        try {
            if (opened)
                player_.setTitle(name, *title);
            else
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
    state.Title = opened ? *title : 0;
    state.TitleCount = opened ? titleCount : 0;
    state.ChapterSeconds.clear();
    if (opened) {
        const TitleTimeline &timeline = opened->timeline();
        for (std::size_t i = 0; i < timeline.title().chapters.size(); ++i)
            state.ChapterSeconds << timeline.chapterStart(i).startTicks / 90000.0;
    }
    Cdlg.FileName = QString();
    mp_myopen();
    showPauseCaption();
    T->start();

    const bool hasLength = takeDuration();
    showWhatPlays();
    if (!hasLength)
        return; // a file without length: the lines stay where they were
    Line1->setX1(StartLineOffset);
    Line1->setX2(StartLineOffset);
    Line2->setX1(TrackEnd);
    Line2->setX2(TrackEnd);
}

} // namespace morvane
