#include "app/ui/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace morvane {

namespace {
const QString Title = QStringLiteral("Morvane");

std::optional<QString> run(QFileDialog &dialog, const QString &filter, int filterIndex, const QString &fileName)
{
    const QStringList filters = QtDialogs::nameFilters(filter);
    dialog.setNameFilters(filters);
    if (filterIndex >= 1 && filterIndex <= filters.size())
        dialog.selectNameFilter(filters[filterIndex - 1]);
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
} // namespace

QStringList QtDialogs::nameFilters(const QString &filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i];
        QString pattern = parts[i + 1];
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt reads the patterns from the trailing parentheses.
        result << (description.endsWith(QLatin1Char('(') + pattern + QLatin1Char(')'))
                       ? description
                       : description + QStringLiteral(" (") + pattern + QLatin1Char(')'));
    }
    return result;
}

std::optional<QString> QtDialogs::openFile(const QString &filter, const QString &fileName)
{
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return run(dialog, filter, 1, fileName);
}

std::optional<QString> QtDialogs::saveFile(const QString &title, const QString &filter, int filterIndex,
                                           const QString &fileName)
{
    QFileDialog dialog(parent_, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Save asks about an existing file itself, and the name is used as typed.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    return run(dialog, filter, filterIndex, fileName);
}

void QtDialogs::message(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, Title, text, QMessageBox::Ok, parent_);
    box.exec();
}

bool QtDialogs::askYesNo(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, Title, text, QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

} // namespace morvane
