#pragma once
// The window's file dialog: it remembers its filter, title and file name
// between uses, and a cancelled dialog is an error for the caller.

#include "app/ui/Dialogs.h"

#include <stdexcept>

namespace morvane {

class DialogCancelled : public std::runtime_error {
public:
    DialogCancelled() : std::runtime_error("dialog cancelled") {}
};

class CommonDialog {
public:
    explicit CommonDialog(Dialogs &dialogs) : dialogs_(dialogs) {}

    QString Filter;
    int FilterIndex = 1;
    QString DialogTitle;
    QString FileName;

    // On success FileName holds the chosen path; throws DialogCancelled.
    void ShowOpen();
    void ShowSave();

private:
    Dialogs &dialogs_;
};

} // namespace morvane
