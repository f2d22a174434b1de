// The real file dialogs and message boxes, driven by typing into them as a user would.
#include "app/ui/Form1.h"
#include "app/ui/QtDialogs.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/ModalDialogs.h"
#include "support/ScriptedDialogs.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QtTest>

using namespace morvane;
using morvane::test::whenShown;

namespace {
QTemporaryDir *configHome; // the user's settings folder for this run
QString shownFilter;       // by the last file dialog

// Puts name in the file name field, then Enter: key by key with the field focused, as a user types, or at once
// without focus, as a paste sets it. A dialog still up after that is cancelled, so that the test goes on.
void type(const QString &name, bool keys = true)
{
    whenShown<QFileDialog>([=](QFileDialog *dialog) {
        auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
        shownFilter = dialog->selectedNameFilter();
        const auto *list = dialog->findChild<QAbstractItemView *>("listView");
        QTRY_VERIFY(list && list->model()->rowCount(list->rootIndex()) > 0); // as a user sees the folder first
        if (keys) {
            QApplication::setActiveWindow(dialog);
            edit->setFocus();
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClicks(edit, name, {}, 15);
        } else {
            edit->setText(name);
        }
        QTest::qWait(200); // the completer and the file list catch up
        whenShown<QMessageBox>([](QMessageBox *box) { box->reject(); }, 500, dialog); // "File not found"
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::qWait(100);
        if (dialog->isVisible())
            dialog->reject();
    });
}
} // namespace

class TestDialogs : public QObject {
    Q_OBJECT
public:
    static void initMain()
    {
        configHome = new QTemporaryDir;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome->path()));
    }
private slots:
    // However the file is named, the dialog answers with it and closes, and nothing is remembered for the next
    // run in the user's settings folder. Names are in the dialog's folder (typed with a "/": in full); preset:
    // the name it opens with, as a refused file leaves it; how: typed key by key, set at once ("paste") as an
    // accessibility client does, or key by key in the save dialog.
    void namingAFile_data()
    {
        for (const char *column : {"preset", "typed", "chosen", "how"})
            QTest::addColumn<QString>(column);
        QTest::newRow("full path") << "x"
                                   << "/small.vob"
                                   << "small.vob"
                                   << "keys";
        QTest::newRow("relative path into a folder") << "small.vob"
                                                     << "sub/o.vob"
                                                     << "sub/o.vob"
                                                     << "keys";
        QTest::newRow("bare name at once over it") << "small.vob"
                                                   << "small.vob"
                                                   << "small.vob"
                                                   << "paste";
        QTest::newRow("save over a file") << "a.vob"
                                          << "good.vob"
                                          << "good.vob"
                                          << "save";
    }
    void namingAFile()
    {
        QFETCH(QString, preset);
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        QFETCH(QString, how);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        for (const char *name : {"small.vob", "good.vob", "sub/o.vob"})
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        type(typed.startsWith('/') ? dir.path() + typed : typed, how != "paste");
        const QString filter = "VOB Files(*.vob)|*.vob|All Files (*.*)|*.*"; // Save's
        QtDialogs d;
        const auto answer = how == "save" ? d.saveFile("Save", filter, 1, dir.filePath(preset))
                                          : d.openFile(filter, dir.filePath(preset));
        QCOMPARE(answer.value_or("none"), dir.filePath(chosen));
        QCOMPARE(shownFilter, "VOB Files(*.vob)");
        QStringList left = QDir(configHome->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        left.removeOne("pulse"); // the sound server's client library, when a player looks for devices
        QVERIFY2(left.isEmpty(), qPrintable(left.join(", ")));
    }
    // A file the player refused, named in full again: the dialog closes and Open says why, once.
    void refusedFileFromTheDialog()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("small.vob");
        QVERIFY(QFile::copy(MORVANE_TEST_MEDIA "/random.bin", path)); // not media, not text
        QtMediaPlayer player;
        QtDialogs dialogs;
        test::ScriptedWebPanel web;
        Form1 f(player, dialogs, web);
        dialogs.setParent(&f);
        f.Cdlg.FileName = path; // as a refused file leaves it for the next Open
        QStringList said;
        type(path, false);
        whenShown<QMessageBox>([&](QMessageBox *box) {
            said << box->text() << (qobject_cast<QFileDialog *>(QApplication::activeWindow()) ? "dialog up" : "");
            box->accept();
        });
        QTest::mouseClick(f.Command4, Qt::LeftButton);
        QCOMPARE(said, QStringList({"Cannot play \"" + path + "\".\nCould not determine type of stream.", ""}));
    }
    // The window manager's title "Morvane" fits on a box however short its text: the title in bold at the
    // application's size beside an icon and three buttons of at least 24 px.
    void boxesFitTheirTitle()
    {
        QFont bold = QApplication::font();
        bold.setBold(true);
        const int needed = QFontMetrics(bold).horizontalAdvance("Morvane") + 4 * 24;
        for (const bool question : {false, true}) {
            QString seen;
            whenShown<QMessageBox>([&](QMessageBox *box) {
                seen = QString("%1, %2 px wide").arg(box->windowTitle()).arg(box->width());
                box->accept();
            });
            question ? void(QtDialogs().askYesNo("Overwrite?")) : QtDialogs().message("Saved");
            QVERIFY2(seen.section(',', 0, 0) == "Morvane" && seen.section(' ', 1, 1).toInt() >= needed,
                     qPrintable(QString("%1; %2 px needed").arg(seen).arg(needed)));
        }
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
