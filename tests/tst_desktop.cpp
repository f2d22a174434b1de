// The ways in from the desktop: a file on the command line, a drop, the keyboard shortcuts and what assistive
// tools see, on the real window with the scripted player.

#include "app/ui/CommandLine.h"
#include "app/web/WebEngineWebPanel.h"
#include "support/Files.h"
#include "support/WindowFixture.h"

#include <QtGui/private/qaccessiblebridgeutils_p.h>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QMimeData>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

constexpr int ctrl = Qt::ControlModifier;
QList<QUrl> browsed;  // by the system's browser, which the test stands in for
QTemporaryDir *files; // a.vob, b.vob, é.vob, a name that is not UTF-8 and a named pipe

QByteArray path(const QByteArray &name) { return QFile::encodeName(files->path()) + '/' + name; }

// With w focused, or with nothing focused in w's window when w is the window.
void press(QWidget *w, int key)
{
    if (w->isWindow() && w->focusWidget())
        w->focusWidget()->clearFocus();
    else
        w->setFocus();
    QTest::keyClick(w, Qt::Key(key & ~ctrl), Qt::KeyboardModifiers(key & ctrl));
}

// The control assistive tools know by name; the window for "".
QWidget *named(QWidget *window, const QString &name)
{
    for (QWidget *c : window->findChildren<QWidget *>())
        if (!name.isEmpty() && QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name) == name)
            return c;
    if (!name.isEmpty())
        qFatal("no control %s", qPrintable(name));
    return window;
}

// Active, for the window's shortcuts.
struct Window : WindowFixture {
    Window()
    {
        form->activateWindow();
        (void)QTest::qWaitForWindowActive(form.get());
    }
    // Paused at 42 s of a 100 s a.vob, marks 10 and 12; b.vob waits as the next file the open dialog gives.
    void prepare()
    {
        dialogs.openAnswers << QFile::decodeName(path("a.vob")) << QFile::decodeName(path("b.vob"));
        click(form->Command4);
        click(form->Command1);
        tick(10);
        click(form->Command5);
        tick(12);
        click(form->Command6);
        tick(42);
        player.step = 0.5; // each position read moves Play Selected half a second on
        player.commands.clear();
    }
    // Drags mime over target and drops it; whether the window took it, after the queued open has run.
    bool drop(QMimeData *mime, QWidget *target)
    {
        const QPoint at(target->width() / 2, target->height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        drop.ignore();
        QApplication::sendEvent(target, &enter);
        QApplication::sendEvent(target, &drop);
        QCoreApplication::processEvents();
        return enter.isAccepted() && drop.isAccepted();
    }
};

// What the window told assistive tools of text, value and description changes, while a test listens.
QStringList heard;
void listen(QAccessibleEvent *e)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(e->object());
    const QString who = iface->text(QAccessible::Name) + ": ";
    if (e->type() == QAccessible::TextUpdated) {
        const auto *t = static_cast<QAccessibleTextUpdateEvent *>(e);
        heard << who + t->textRemoved() + " -> " + t->textInserted();
    } else if (e->type() == QAccessible::ValueChanged) {
        heard << who + static_cast<QAccessibleValueChangeEvent *>(e)->value().toString();
    } else if (e->type() == QAccessible::DescriptionChanged) {
        heard << who + iface->text(QAccessible::Description);
    }
}

} // namespace

Q_DECLARE_METATYPE(CommandLine::Action)

class TestDesktop : public QObject {
    Q_OBJECT

public:
    static void initMain() { QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); } // for WebEngine
public slots:
    void openInBrowser(const QUrl &url) { browsed << url; } // stands in for the system's browser
private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openInBrowser");
        files = new QTemporaryDir;
        for (const char *name : {"a.vob", "b.vob", "\xc3\xa9.vob", "\xff.vob"}) {
            const int fd = ::open(path(name).constData(), O_WRONLY | O_CREAT, 0644);
            QVERIFY(fd >= 0 && ::write(fd, "vob", 3) == 3 && !::close(fd));
        }
        QVERIFY(!::mkfifo(path("pipe.vob").constData(), 0644)); // no writer: opening it to read would wait
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        ::unlink(path("\xff.vob").constData()); // QTemporaryDir cannot remove it
        delete files;
    }
    void init() { browsed.clear(); }

    void commandLine_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<CommandLine::Action>("action");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("error");
        using A = CommandLine::Action;
        const auto row = [](const QByteArrayList &arguments, A action, const char *file, const QString &error) {
            QTest::newRow(qPrintable("[" + arguments.join(' ') + "]"))
                << arguments << action << QByteArray(file) << error;
        };
        const QString second = "one FILE at a time, not also 'b'";
        row({}, A::Run, "", "");
        row({"\xff\xfe.vob"}, A::Run, "\xff\xfe.vob", "");
        row({"-"}, A::Run, "-", "");
        row({"--", "--help"}, A::Run, "--help", "");
        row({"-h"}, A::Help, "", "");
        row({"-x", "-y", "--help"}, A::Help, "", "unknown option '-x'");
        row({"a", "b", "--version"}, A::Version, "a", second);
        row({"--version", "-h"}, A::Help, "", "");
        row({"a", "--", "b"}, A::Refuse, "a", second);
    }
    void commandLine()
    {
        QFETCH(QByteArrayList, arguments);
        const CommandLine line = CommandLine::parse(arguments);
        QTEST(line.action, "action");
        QTEST(line.file.value_or(""), "file");
        QTEST(line.error, "error");
    }

    // The program refuses a second file, and answers --help without a display.
    void binary()
    {
        const QString morvane = QFileInfo(MORVANE_CUT_PATH).dir().filePath("morvane");
        const Ran refused = run(morvane, {"a", "b"});
        QCOMPARE(refused.exitCode, 2);
        QVERIFY(refused.err.endsWith("morvane: one FILE at a time, not also 'b'\nTry 'morvane --help'.\n"));
        const Ran help = run("env", {"-u", "DISPLAY", "-u", "QT_QPA_PLATFORM", morvane, "--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.startsWith("Usage: morvane [FILE]\n"), qPrintable(help.out));
    }

    // A file dropped on the window; the command line's file takes the same way from its bytes on.
    void drops_data()
    {
        QTest::addColumn<QString>("urls");   // spaced, encoded; DIR is the files' folder; none: a text drop
        QTest::addColumn<QString>("target"); // a control's name; "saving": the window while Save's dialog is up
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("commands"); // the player's
        QTest::addColumn<QString>("said");
        const auto row = [](const char *name, const QString &urls, const QString &target, const QString &commands,
                            const QString &said,
                            bool taken = true) { QTest::newRow(name) << urls << target << taken << commands << said; };
        const QString opened = "FileName(DIR/a.vob) Play";
        const QString notOurs = "Only a file on this computer can be opened, not \"%1\".";
        row("on the web panel", "file://DIR/a.vob", "Information", opened, "");
        row("localhost, on a button", "file://localhostDIR/a.vob", "Save", opened, "");
        row("utf-8 name", "file://DIR/%C3%A9.vob", "Video", "FileName(DIR/é.vob) Play", "");
        row("two files", "file://DIR/a.vob file://DIR/b.vob", "", "",
            "Drop one file at a time: Morvane works on one source file.");
        row("web address", "https://m.example/a.vob", "Position slider", "", notOurs.arg("https://m.example/a.vob"));
        row("other host", "file://m.exampleDIR/a.vob", "", "", notOurs.arg("file://m.exampleDIR/a.vob"));
        row("bytes not utf-8", "file://DIR/%FF.vob", "", "",
            "Cannot open \"DIR/\uFFFD.vob\".\nIts name is not valid UTF-8, so Morvane cannot pass it on unchanged. "
            "Rename the file and try again.");
        row("not a url", "", "", "", "", false);
        row("missing", "file://DIR/no", "", "", "Cannot open \"DIR/no\".\nNo such file or directory");
        row("a named pipe", "file://DIR/pipe.vob", "", "", "Cannot open \"DIR/pipe.vob\".\nIt is not a regular file");
        row("while saving", "file://DIR/b.vob", "saving", "", "", false);
    }
    void drops()
    {
        QFETCH(QString, urls);
        QFETCH(QString, target);
        QFETCH(QString, commands);
        QFETCH(QString, said);
        Window w;
        QMimeData mime;
        QList<QUrl> list;
        for (const QString &u : urls.replace("DIR", files->path()).split(' ', Qt::SkipEmptyParts))
            list << QUrl::fromEncoded(u.toUtf8());
        if (list.isEmpty())
            mime.setText(files->path() + "/a.vob");
        else
            mime.setUrls(list);
        bool taken = false;
        if (target == "saving") { // Save's dialog locks the window
            w.prepare();
            w.dialogs.whileSaving = [&] { taken = w.drop(&mime, w.form.get()); };
            w.click(w.form->Command7);
        } else {
            taken = w.drop(&mime, named(w.form.get(), target));
        }
        QTEST(taken, "taken");
        QCOMPARE(w.player.commands.join(' '), commands.replace("DIR", files->path()));
        QCOMPARE(w.dialogs.messages.join(" / "), said.replace("DIR", files->path()));
        QCOMPARE(w.form->Command4->isEnabled(), true); // unlocked after the load, whatever it gave
    }

    // A given file replaces the one playing exactly as Open would: stop first, reset the marks.
    void givenFileLikeOpen()
    {
        Window byDialog;
        Window byName;
        byDialog.prepare();
        byName.prepare();
        byDialog.click(byDialog.form->Command4);
        byName.form->openGivenFile(path("b.vob"));
        QCOMPARE(byName.shown(), byDialog.shown());
        QCOMPARE(byName.player.commands, byDialog.player.commands);
        QCOMPARE(byName.shown().file, files->path() + "/b.vob");
        QCOMPARE(byName.dialogs.openDialogs.size(), 1); // the one before
    }

    // Space and Enter press the focused button and tick the focused check box; elsewhere (nothing focused for "")
    // Space plays or pauses. Each other key does what a click on its button does, or moves the slider as a click
    // there would, wherever the focus is. Nothing while Save's dialog locks the window.
    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("button"); // whose click the key does; none: it seeks to
        QTest::addColumn<QString>("tip");    // the end of the button's tooltip
        QTest::addColumn<int>("at");         // the slider's value before
        QTest::addColumn<int>("to");
        const struct {
            const char *name;
            int key;
            const char *focus, *button, *tip;
            int at = 42, to = 42;
        } rows[] = {{"Space on the slider", Qt::Key_Space, "Position slider", "Play",
                     "(Space, unless a button, the check box, the link or the information panel has the focus)"},

                    {"Home", Qt::Key_Home, "Position slider", "Stop", "(Home, outside the information panel)"},
                    {"Ctrl+O", ctrl | Qt::Key_O, "Video", "Open", "(Ctrl+O)"},
                    {"Ctrl+S", ctrl | Qt::Key_S, "Play", "Save", "(Ctrl+S)"},
                    {"[", Qt::Key_BracketLeft, "Information", "Mark Start", "(I or [)"},

                    {"O", Qt::Key_O, "Play Selected", "Mark End", "(O or ])"},

                    {"P", Qt::Key_P, "Mark Start", "Play Selected", "(P)"},
                    {"Space on a button", Qt::Key_Space, "Stop", "Stop", ""},
                    {"Enter on a button", Qt::Key_Return, "Play Selected", "Play Selected", ""},
                    {"Space on the check box", Qt::Key_Space, "Precise cut", "Precise cut", ""},
                    {"Right", Qt::Key_Right, "Play", "", "", 42, 47},

                    {"Left past 0, nothing focused", Qt::Key_Left, "", "", "", 3, 0},
                    {"Right past the end", Qt::Key_Right, "Video", "", "", 97, 100},
                    {"Right at the end", Qt::Key_Right, "Position slider", "", "", 100, 100}};
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.key << r.focus << r.button << r.tip << r.at << r.to;
    }
    void keys()
    {
        QFETCH(int, key);
        QFETCH(QString, focus);
        QFETCH(QString, button);
        QFETCH(int, at);
        QFETCH(int, to);
        Window clicked;
        Window pressed;
        Window saving; // the last made is the active one
        for (Window *w : {&clicked, &pressed, &saving}) {
            w->prepare();
            w->form->H->setValue(at); // where the last tick left it
        }
        saving.dialogs.whileSaving = [&] {
            const Shown during = saving.shown();
            QCOMPARE(during.enabled, 0);
            press(saving.form->Command1, key);
            QCOMPARE(saving.shown(), during);
        };
        saving.click(saving.form->Command7);
        QCOMPARE(saving.shown().enabled, 9); // unlocked once the dialog is cancelled

        pressed.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pressed.form.get()));
        press(named(pressed.form.get(), focus), key);
        if (button.isEmpty()) {
            clicked.form->H->setValue(to);
            if (to != at)
                clicked.form->H_Click();
        } else {
            QWidget *b = named(clicked.form.get(), button);
            QFETCH(QString, tip);
            QVERIFY2(b->toolTip().endsWith(tip), qPrintable(b->toolTip()));
            clicked.click(b);
        }
        QCOMPARE(pressed.shown(), clicked.shown());
        QCOMPARE(pressed.player.commands, clicked.player.commands);
    }

    // The real web panel, focused, keeps its own keys: Space, the arrows and Home scroll the page, not the player.
    void keysInRealWebPanel()
    {
        ScriptedPlayer player;
        ScriptedDialogs dialogs;
        WebEngineWebPanel web;
        Form1 form(player, dialogs, web);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        dialogs.openAnswers << QStringLiteral("/m/a.vob");
        QTest::mouseClick(form.Command4, Qt::LeftButton);
        form.H->setValue(42);
        player.commands.clear();
        QWidget *page = form.WebBrowser1->focusProxy() ? form.WebBrowser1->focusProxy() : form.WebBrowser1;
        page->setFocus();
        QTRY_VERIFY(page->hasFocus());
        for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Right, Qt::Key_Left, Qt::Key_Home})
            QTest::keyClick(QApplication::focusWidget(), key);
        QCOMPARE(form.Command1->text(), "Pause");
        QCOMPARE(form.H->value(), 42);
        QCOMPARE(player.commands, QStringList());
    }

    // What assistive tools see and hear, and the codec link's ways in.
    void accessible()
    {
        Window w;
        Form1 &f = *w.form;
        w.prepare();
        heard.clear(); // a screen reader hears the read-outs change, with the old and the new text
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true); // as one on the bus would
        const auto previous = QAccessible::installUpdateHandler(listen);
        w.tick(30);
        w.click(f.Command6); // end 30, length 20
        f.pb->setByteMaximum(200);
        f.pb->setByteValue(1); // 0%: nothing to say
        f.pb->setByteValue(3);
        QAccessible::installUpdateHandler(previous);
        QCOMPARE(heard,
                 (QStringList{"Position slider: 30", "Position:  0 : 0 : 42 ->  0 : 0 : 30",
                              "End mark:  0 : 0 : 12 ->  0 : 0 : 30", "Selection length:  0 : 0 : 2 ->  0 : 0 : 20",
                              "Clip progress: 1", "Clip progress: 1%"}));
        f.pb->setByteMaximum(3'000'000'000LL);
        f.pb->setByteValue(1'350'000'000LL);
        QCOMPARE(QAccessible::queryAccessibleInterface(&f)->role(), QAccessible::Window); // a "frame", not a "filler"
        QAccessibleInterface *start = QAccessible::queryAccessibleInterface(f.Label7);
        QCOMPARE(start->text(QAccessible::Name), "Start mark");
        QCOMPARE(start->textInterface()->text(0, start->textInterface()->characterCount()), " 0 : 0 : 10");
        QVERIFY(start->state().readOnly);
        QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(f.pb);
        QCOMPARE(bar->text(QAccessible::Description), "45%");
        QVERIFY(bar->state().readOnly);
        QCOMPARE(QAccessible::queryAccessibleInterface(f.H)->text(QAccessible::Description),
                 "Position (Left and Right: 5 seconds back and forward; Page Down and Page Up: next and previous "
                 "chapter of a DVD title; outside the information panel)");
        QAccessibleInterface *link = QAccessible::queryAccessibleInterface(f.Label1);
        QCOMPARE(link->role(), QAccessible::Link);
        QCOMPARE(link->text(QAccessible::Description), "Open the codec download page in your web browser");
        QAccessibleValueInterface *value = bar->valueInterface();
        QVERIFY(QAccessibleBridgeUtils::performEffectiveAction(bar, QAccessibleActionInterface::increaseAction()));
        value->setCurrentValue(10); // read, not set
        QCOMPARE(value->currentValue().toInt(), 45);
        QCOMPARE(value->maximumValue().toInt(), 100);
        QCOMPARE(f.pb->byteValue(), 1'350'000'000LL);

        for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) // the focused link takes Space from Play
            press(f.Label1, key);
        link->actionInterface()->doAction("Press");
        QCOMPARE(browsed, QList<QUrl>(4, browsed.value(0)));
        QCOMPARE(browsed.value(0).path(), "/codecdownload.html");
        QCOMPARE(w.player.commands, QStringList());
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
