#pragma once
// Modal dialogs and message boxes, behind an interface so that handlers can
// be driven with scripted answers.

#include <QList>
#include <QString>
#include <optional>

namespace morvane {

// One line of the title list.
struct TitleChoice {
    int number = 0;
    QString duration; // as morvane-cut --list shows it
    int chapters = 0;
    QString audio; // "en AC-3 2ch, fr AC-3 6ch"; empty for none
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Filters use the "Description|pattern|Description|pattern" form.
    // std::nullopt when the user cancels.
    virtual std::optional<QString> openFile(const QString &filter, const QString &fileName) = 0;
    virtual std::optional<QString> saveFile(const QString &title, const QString &filter, int filterIndex,
                                            const QString &fileName) = 0;
    // Message boxes titled "Morvane".
    virtual void message(const QString &text) = 0;
    virtual bool askYesNo(const QString &text) = 0; // true for Yes
    // A DVD's titles to choose one from, titled "Morvane", with preselected
    // (a title number) chosen at first. The chosen title's number, or
    // std::nullopt when the user cancels.
    virtual std::optional<int> chooseTitle(const QList<TitleChoice> &titles, int preselected) = 0;
};

} // namespace morvane
