#include "app/ui/QtDialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QSpacerItem>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace morvane {

namespace {
const QString Title = QStringLiteral("Morvane");

// Qt's own file dialog, on every desktop, with one change: the name in the
// file name field is the answer. Qt answers with the entries selected in its
// file list, and typing a path can leave the folder itself selected there
// (the field passes through the folder's name); Qt then takes the whole
// answer for "open this folder", clears the field and stays open.
class FileDialog : public QFileDialog {
public:
    FileDialog(QWidget *parent, const QString &title) : QFileDialog(parent, title)
    {
        setOption(QFileDialog::DontUseNativeDialog);
    }

    QString chosen;

protected:
    void accept() override
    {
        const auto *edit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QString typed = edit ? edit->text() : QString();
        if (typed == QLatin1String("~") || typed.startsWith(QLatin1String("~/")))
            typed.replace(0, 1, QDir::homePath());
        const QFileInfo info(directory(), typed);
        const bool answer = !typed.isEmpty() && !info.isDir() && (acceptMode() == AcceptSave || info.exists());
        if (!answer) {
            QFileDialog::accept(); // a folder to enter, or a missing file to report
            return;
        }
        chosen = info.absoluteFilePath();
        QDialog::accept();
    }
};

std::optional<QString> run(FileDialog &dialog, const QString &filter, int filterIndex, const QString &fileName)
{
    const QStringList filters = QtDialogs::nameFilters(filter);
    dialog.setNameFilters(filters);
    if (filterIndex >= 1 && filterIndex <= filters.size())
        dialog.selectNameFilter(filters[filterIndex - 1]);
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    if (!dialog.chosen.isEmpty())
        return dialog.chosen;
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? std::nullopt : std::optional<QString>(files.constFirst());
}
} // namespace

QtDialogs::QtDialogs()
{
    // Qt's file dialog writes its last folder and history to QtProject.conf
    // in the user's settings folder and starts there next time, with no
    // option against it. Point the user's settings at a folder that nothing
    // can be created in, not even by root: it then reads nothing and its
    // writes fail quietly.
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
}

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
    FileDialog dialog(parent_, QString());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return run(dialog, filter, 1, fileName);
}

std::optional<QString> QtDialogs::saveFile(const QString &title, const QString &filter, int filterIndex,
                                           const QString &fileName)
{
    FileDialog dialog(parent_, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Save asks about an existing file itself, and the name is used as typed.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    return run(dialog, filter, filterIndex, fileName);
}

int QtDialogs::minimumBoxWidth()
{
    // Window managers draw titles in a bold font, often larger than the
    // application's, beside an icon and three buttons of about a title
    // bar's height each.
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(Title) + 5 * 2 * metrics.height();
}

int QtDialogs::exec(QMessageBox &box)
{
    // A box sizes itself to its text; a spacer across its grid keeps it from
    // growing narrower than its title.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(minimumBoxWidth(), 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return box.exec();
}

void QtDialogs::message(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, Title, text, QMessageBox::Ok, parent_);
    exec(box);
}

bool QtDialogs::askYesNo(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, Title, text, QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(QMessageBox::Yes);
    return exec(box) == QMessageBox::Yes;
}

std::optional<int> QtDialogs::chooseTitle(const QList<TitleChoice> &titles, int preselected)
{
    QDialog dialog(parent_);
    dialog.setWindowTitle(Title);
    auto *layout = new QVBoxLayout(&dialog);
    auto *label = new QLabel(QStringLiteral("This DVD has %1 titles. Choose the one to open:").arg(titles.size()));
    layout->addWidget(label);
    auto *list = new QTreeWidget;
    list->setRootIsDecorated(false);
    list->setAllColumnsShowFocus(true);
    list->setHeaderLabels(
        {QStringLiteral("Title"), QStringLiteral("Duration"), QStringLiteral("Chapters"), QStringLiteral("Audio")});
    list->setAccessibleName(QStringLiteral("Titles"));
    label->setBuddy(list);
    for (const TitleChoice &t : titles) {
        auto *row = new QTreeWidgetItem(list, {QString::number(t.number), t.duration, QString::number(t.chapters),
                                               t.audio.isEmpty() ? QStringLiteral("none") : t.audio});
        row->setData(0, Qt::UserRole, t.number);
        if (t.number == preselected)
            list->setCurrentItem(row);
    }
    list->header()->resizeSections(QHeaderView::ResizeToContents);
    layout->addWidget(list);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    // A double click or Enter on a row opens it, as OK does.
    QObject::connect(list, &QTreeWidget::itemActivated, &dialog, &QDialog::accept);
    dialog.setMinimumWidth(minimumBoxWidth());
    list->setFocus();
    if (dialog.exec() != QDialog::Accepted || !list->currentItem())
        return std::nullopt;
    return list->currentItem()->data(0, Qt::UserRole).toInt();
}

} // namespace morvane
