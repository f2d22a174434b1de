#pragma once
#include "app/ui/Dialogs.h"

class QMessageBox;
class QWidget;

namespace morvane {

// The real file dialogs and message boxes.
class QtDialogs : public Dialogs {
public:
    // Keeps Qt's file dialog from remembering its folder and history between
    // runs: the program keeps no settings.
    QtDialogs();

    void setParent(QWidget *parent) { parent_ = parent; }

    std::optional<QString> openFile(const QString &filter, const QString &fileName) override;
    std::optional<QString> saveFile(const QString &title, const QString &filter, int filterIndex,
                                    const QString &fileName) override;
    void message(const QString &text) override;
    bool askYesNo(const QString &text) override;
    // A list with one row per title, its preselected row current and focused:
    // the arrow keys choose, Enter opens, Escape cancels.
    std::optional<int> chooseTitle(const QList<TitleChoice> &titles, int preselected) override;

    // "VOB Files (*.vob)|*.vob|All Files (*.*)|*.*" in Qt's own filter form.
    static QStringList nameFilters(const QString &filter);
    // Narrowest message box whose title a window manager shows in full.
    static int minimumBoxWidth();

private:
    int exec(QMessageBox &box);

    QWidget *parent_ = nullptr;
};

} // namespace morvane
