// Save: checks the marks, locks the editing controls, asks for the target and
// cuts the clip. Every way out after the dialog puts the controls back.

#include "app/ui/Form1.h"
#include "files/engine/ClipCutter.h"
#include "files/engine/FileName.h"
#include "state/TimeText.h"

#include <QCoreApplication>
#include <QScopeGuard>

namespace morvane {

namespace {

class ProgressBarSink : public ProgressSink {
public:
    explicit ProgressBarSink(ClipProgressBar *bar) : bar_(bar) {}
    void setMaximum(std::int64_t maximum) override { bar_->setByteMaximum(maximum); }
    void setValue(std::int64_t value) override { bar_->setByteValue(value); }

private:
    ClipProgressBar *bar_;
};

} // namespace

void Form1::Command7_Click()
{
    if (!state.selectionValid() || state.EndSecond == 0) {
        dialogs_.message(QStringLiteral("Wrong Selection"));
        return;
    }
    if (!state.fileOpen())
        return;

    setEditingEnabled(false);
    bool finished = false;
    try {
        const std::int32_t duration = RoundSeconds(player_.duration());
        showPlayCaption();
        H->setValue(0);
        setWindowTitle(QStringLiteral("Saving"));

        Cdlg.Filter = QStringLiteral("VOB Files(*.vob)|*.vob|All Files (*.*)|*.*");
        Cdlg.FilterIndex = 1;
        Cdlg.DialogTitle = QStringLiteral("Save");
        Cdlg.ShowSave();
        // The engine takes names as bytes; one the dialog's text cannot hold
        // exactly is refused here, never turned into another file's name.
        QByteArrayList sources;
        for (const QString &file : state.sourceFiles())
            sources << exactFileName(file);
        const QByteArray target = exactFileName(Cdlg.FileName);

        // A name that did not exist when chosen is claimed as new: a file
        // that appears there meanwhile is kept. Only a Yes allows replacing.
        const bool namesSource = sources.contains(target);
        const TargetState found = namesSource ? TargetState::File : inspectTarget(sources, target, state.Title);
        if (namesSource) {
            dialogs_.message(QStringLiteral("Cannot overwrite file in use..."));
        } else if (found == TargetState::File && !dialogs_.askYesNo(QStringLiteral("File already exist.Overwrite?"))) {
            // No: the old file stays as it was.
        } else {
            ProgressBarSink sink(pb);
            ClipCutter cutter(sink, [] { QCoreApplication::processEvents(); });
            activeCut_ = &cutter;
            // Whatever leaves this block, closing the window must not reach
            // a cutter that is gone.
            const auto forget = qScopeGuard([this] { activeCut_ = nullptr; });
            CutRequest request{sources,
                               target,
                               duration,
                               state.StartSecond,
                               state.EndSecond,
                               found == TargetState::File ? Replace::Allowed : Replace::Never,
                               Check1->isChecked() ? CutMethod::Precise : CutMethod::ByteRate,
                               state.Title};
            // Marks taken at chapter starts cut from the one chapter's first
            // VOBU to the other's.
            if (request.method == CutMethod::Precise && state.StartChapter >= 0
                && state.EndChapter > state.StartChapter) {
                request.firstChapter = state.StartChapter + 1;
                request.lastChapter = state.EndChapter;
            }
            cutter.cut(request);
            finished = true;
        }
    } catch (const DialogCancelled &) {
        // The user changed their mind: nothing to report.
    } catch (const TargetInUse &) {
        dialogs_.message(QStringLiteral("Cannot overwrite file in use..."));
    } catch (const CutCancelled &) {
        // The window was closed: the program is ending, nothing to report.
    } catch (const std::exception &e) {
        dialogs_.message(QStringLiteral("The clip was not saved.\n%1").arg(QString::fromUtf8(e.what())));
    }

    setWindowTitle(QStringLiteral("Morvane"));
    if (finished)
        dialogs_.message(QStringLiteral("Clip Saved"));
    pb->setByteValue(0);
    setEditingEnabled(true);
    if (!finished)
        Cdlg.FileName = QString(); // the dialog keeps the name only of a saved clip
}

} // namespace morvane
