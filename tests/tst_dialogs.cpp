// The real dialogs, driven as a user would.
#include "app/ui/QtDialogs.h"
#include "support/Files.h"
#include "support/ModalDialogs.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QtTest>

using namespace morvane;
using namespace morvane::test;

namespace {
QTemporaryDir *configHome;
QString shownFilter;
}

class TestDialogs : public QObject {
    Q_OBJECT
public:
    static void initMain();
private slots:
    // Opened on a.vob beside small.vob and sub/o.vob; writes no settings.
    void namingAFile_data();
    void namingAFile();
    // A short box fits its title: "Morvane" in bold beside an icon and three 24 px buttons.
    void boxesFitTheirTitle();
};

void TestDialogs::initMain()
{
    configHome = new QTemporaryDir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome->path()));
}

void TestDialogs::namingAFile_data()
{
    QTest::addColumn<bool>("save");
    QTest::newRow("open sub/o.vob, typed") << false;
    QTest::newRow("save over small.vob, pasted in full") << true;
}

void TestDialogs::namingAFile()
{
    QFETCH(bool, save);
    const QString name = save ? "small.vob" : "sub/o.vob";
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    QVERIFY(writeFile(dir.filePath("small.vob"), ""));
    QVERIFY(writeFile(dir.filePath("sub/o.vob"), ""));
    whenShown<QFileDialog>([=, path = dir.filePath(name)](QFileDialog *dialog) {
        auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
        shownFilter = dialog->selectedNameFilter();
        const auto *list = dialog->findChild<QAbstractItemView *>("listView");
        QTRY_VERIFY(list && list->model()->rowCount(list->rootIndex()) > 0); // the folder shown first
        if (save) {
            edit->setText(path);
        } else {
            QApplication::setActiveWindow(dialog);
            edit->clear();
            QTest::keyClicks(edit, name, {}, 15);
        }
        QTest::qWait(200);                                                            // for the completer and the list
        whenShown<QMessageBox>([](QMessageBox *box) { box->reject(); }, 500, dialog); // "File not found"
        QTest::keyClick(edit, Qt::Key_Return);
        if (dialog->isVisible())
            dialog->reject(); // name refused: cancel
    });
    const QString filter = "VOB Files(*.vob)|*.vob|All Files (*.*)|*.*"; // Save's
    QtDialogs d;
    const QString preset = dir.filePath("a.vob");
    const auto answer = save ? d.saveFile("Save", filter, 1, preset) : d.openFile(filter, preset);
    QCOMPARE(answer.value_or("none"), dir.filePath(name));
    QCOMPARE(shownFilter, "VOB Files(*.vob)");
    QStringList left = QDir(configHome->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    left.removeOne("pulse"); // left by the sound server's client
    QVERIFY2(left.isEmpty(), qPrintable(left.join(", ")));
}

void TestDialogs::boxesFitTheirTitle()
{
    QFont bold = QApplication::font();
    bold.setBold(true);
    int width = 0;
    whenShown<QMessageBox>([&](QMessageBox *box) {
        QCOMPARE(box->windowTitle(), "Morvane");
        width = box->width();
        QTest::keyClick(box, Qt::Key_Return);
    });
    QCOMPARE(QtDialogs().askYesNo("Overwrite?"), true); // Yes is the default button
    QVERIFY2(width >= QFontMetrics(bold).horizontalAdvance("Morvane") + 4 * 24, qPrintable(QString::number(width)));
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
