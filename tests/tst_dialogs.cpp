// The real file dialogs and message boxes, driven by typing into them as a user would.

#include "app/ui/Form1.h"
#include "app/ui/QtDialogs.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/ScriptedDialogs.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QtTest>
#include <functional>

using namespace morvane;

namespace {
QTemporaryDir *configHome; // the user's settings folder for this run

// Runs answer on the next modal dialog of type T once it is up, while the caller waits in exec(); gives up
// after withinMs, or when owner goes.
template <typename T> void whenShown(std::function<void(T *)> answer, int withinMs = 20000, QObject *owner = nullptr)
{
    auto *poll = new QTimer(owner);
    const QDeadlineTimer deadline(withinMs);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, deadline] {
        auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
        if ((dialog && dialog->isVisible()) || deadline.hasExpired()) {
            poll->deleteLater();
            poll->stop();
            if (dialog)
                answer(dialog);
        }
    });
    poll->start(20);
}

// Replaces what the file name field holds with name, then Enter: key by key with the field focused, as a user
// types, or at once without focus, as an accessibility client or a paste sets it. A dialog still up after that
// is cancelled, so that the test goes on.
void type(const QString &name, bool keys = true)
{
    whenShown<QFileDialog>([=](QFileDialog *dialog) {
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(edit);
        const auto *list = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
        QTRY_VERIFY(list && list->model()->rowCount(list->rootIndex()) > 0); // as a user sees the folder first
        if (keys) {
            QApplication::setActiveWindow(dialog);
            edit->setFocus();
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClicks(edit, name, {}, 15);
        } else {
            edit->clear();
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
    // However the file is named, the dialog answers with it and closes. {d}: the dialog's folder; the preset is
    // the name it opens with, as a refused file leaves it; "keys": typed key by key, else set at once.
    void namingAFile_data()
    {
        for (const char *column : {"preset", "typed", "chosen"})
            QTest::addColumn<QString>(column);
        QTest::addColumn<bool>("keys");
        QTest::newRow("bare name") << "" << "small.vob" << "{d}/small.vob" << true;
        QTest::newRow("full path") << "" << "{d}/small.vob" << "{d}/small.vob" << true;
        QTest::newRow("relative path into a folder") << "{d}/small.vob" << "sub/o.vob" << "{d}/sub/o.vob" << true;
        QTest::newRow("full path at once over it") << "{d}/small.vob" << "{d}/small.vob" << "{d}/small.vob" << false;
        QTest::newRow("bare name at once over it") << "{d}/small.vob" << "small.vob" << "{d}/small.vob" << false;
    }
    void namingAFile()
    {
        QFETCH(QString, preset);
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        QFETCH(bool, keys);
        QTemporaryDir dir;
        const auto at = [&](QString s) { return s.replace(QStringLiteral("{d}"), dir.path()); };
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        for (const char *name : {"small.vob", "good.vob", "sub/o.vob"})
            QVERIFY(QFile(dir.filePath(QLatin1String(name))).open(QIODevice::WriteOnly));
        QtDialogs dialogs;
        type(at(typed), keys);
        const auto answer = dialogs.openFile(QStringLiteral("VOB Files (*.vob)|*.vob|All Files (*.*)|*.*"),
                                             preset.isEmpty() ? dir.filePath(QStringLiteral("x")) : at(preset));
        QVERIFY2(answer == at(chosen), qPrintable(QStringLiteral("answered %1").arg(answer.value_or("nothing"))));
    }
    // A file the player refused, named in full again: the dialog closes and Open says why, once.
    void refusedFileFromTheDialog()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("small.vob"));
        QVERIFY(QFile::copy(QStringLiteral(MORVANE_TEST_MEDIA "/random.bin"), path)); // not media, not text
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
    // Nothing remembered between runs: the user's settings folder stays empty after Save and Open.
    void keepsNoSettings()
    {
        QTemporaryDir dir;
        const QString clip = dir.filePath(QStringLiteral("clip.vob"));
        QVERIFY(QFile(clip).open(QIODevice::WriteOnly));
        QtDialogs dialogs;
        type(QStringLiteral("clip.vob"));
        QCOMPARE(dialogs.saveFile("Save", QStringLiteral("VOB Files (*.vob)|*.vob"), 1, dir.filePath("a.vob")), clip);
        type(clip);
        QCOMPARE(dialogs.openFile(QStringLiteral("All Files (*.*)|*.*"), QString()), clip);
        QStringList left = QDir(configHome->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        left.removeOne(QStringLiteral("pulse")); // the sound server's client library, when a player looks for devices
        QVERIFY2(left.isEmpty(), qPrintable(left.join(", ")));
    }
    // The window manager's title "Morvane" fits on a box however short its text: the title in bold at the
    // application's size beside an icon and three buttons of at least 24 px.
    void boxesFitTheirTitle()
    {
        QFont bold = QApplication::font();
        bold.setBold(true);
        const int needed = QFontMetrics(bold).horizontalAdvance(QStringLiteral("Morvane")) + 4 * 24;
        QtDialogs dialogs;
        for (const bool question : {false, true}) {
            QString seen;
            whenShown<QMessageBox>([&](QMessageBox *box) {
                seen = QStringLiteral("%1, %2 px wide").arg(box->windowTitle()).arg(box->width());
                box->accept();
            });
            question ? void(dialogs.askYesNo(QStringLiteral("Overwrite?"))) : dialogs.message(QStringLiteral("Saved"));
            QVERIFY2(seen.section(u',', 0, 0) == "Morvane" && seen.section(u' ', 1, 1).toInt() >= needed,
                     qPrintable(QStringLiteral("%1; %2 px needed").arg(seen).arg(needed)));
        }
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
