#include "app/ui/CommonDialog.h"

namespace morvane {

void CommonDialog::ShowOpen()
{
    const auto chosen = dialogs_.openFile(Filter, FileName);
    if (!chosen)
        throw DialogCancelled();
    FileName = *chosen;
}

void CommonDialog::ShowSave()
{
    const auto chosen = dialogs_.saveFile(DialogTitle, Filter, FilterIndex, FileName);
    if (!chosen)
        throw DialogCancelled();
    FileName = *chosen;
}

} // namespace morvane
