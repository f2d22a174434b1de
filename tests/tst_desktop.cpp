// The ways in from the desktop: a file on the command line, a drop, the keyboard shortcuts and what assistive
// tools see, on the real window with the scripted player.

#include "app/ui/CommandLine.h"
#include "app/ui/Form1.h"
#include "app/web/WebEngineWebPanel.h"
#include "support/ScriptedDialogs.h"
#include "support/ScriptedPlayer.h"

#include <QtGui/private/qaccessiblebridgeutils_p.h>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QMimeData>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

constexpr int ctrl = Qt::ControlModifier;
QList<QUrl> browsed; // by the system's browser, which the test stands in for
void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }
// With w focused, or with nothing focused in w's window when w is the window.
void press(QWidget *w, int key)
{
    if (w->isWindow() && w->focusWidget())
        w->focusWidget()->clearFocus();
    else
        w->setFocus();
    QTest::keyClick(w, Qt::Key(key & ~ctrl), Qt::KeyboardModifiers(key & ctrl));
}

// Scripted answers; whileSaving runs while the save dialog is up, when the editing controls are locked.
struct HookedDialogs : ScriptedDialogs {
    std::function<void()> whileSaving;
    std::optional<QString> saveFile(const QString &t, const QString &f, int i, const QString &n) override
    {
        if (whileSaving)
            whileSaving();
        return ScriptedDialogs::saveFile(t, f, i, n);
    }
};

struct Window {
    ScriptedPlayer player;
    HookedDialogs dialogs;
    ScriptedWebPanel web;
    QTemporaryDir dir;
    std::unique_ptr<Form1> form = std::make_unique<Form1>(player, dialogs, web);

    // Active, for the window's shortcuts; its folder holds a.vob, b.vob, é.vob and a name that is not UTF-8.
    Window()
    {
        for (const char *name : {"a.vob", "b.vob", "\xc3\xa9.vob", "\xff.vob"}) {
            const int fd = ::open(path(name).constData(), O_WRONLY | O_CREAT, 0644);
            if (fd < 0 || ::write(fd, "vob", 3) != 3 || ::close(fd))
                qFatal("cannot write %s", path(name).constData());
        }
        form->show();
        form->activateWindow();
        (void)QTest::qWaitForWindowActive(form.get());
    }
    ~Window() { ::unlink(path("\xff.vob").constData()); } // QTemporaryDir cannot remove it
    QByteArray path(const QByteArray &name) const { return QFile::encodeName(dir.path()) + '/' + name; }
    QString undir(QString s) const { return s.replace(dir.path(), "DIR"); }
    // Paused at 42 s of a 100 s file, marks 10 and 12; b.vob waits as the next file the open dialog gives.
    void prepare()
    {
        dialogs.openAnswers << QFile::decodeName(path("a.vob")) << QFile::decodeName(path("b.vob"));
        click(form->Command4);
        click(form->Command1); // pause
        for (const auto &[at, mark] : {std::pair{10, form->Command5}, std::pair{12, form->Command6}, {42, nullptr}}) {
            player.setPosition(at);
            form->T_Timer();
            if (mark)
                click(mark);
        }
        player.step = 0.5; // each position read moves Play Selected half a second on
        player.commands.clear();
    }
    // Drags mime over target and drops it; whether the window took it, after the queued open has run.
    bool drop(QMimeData *mime, QWidget *target)
    {
        const QPoint at(target->width() / 2, target->height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        enter.ignore(), drop.ignore();
        QApplication::sendEvent(target, &enter);
        QApplication::sendEvent(target, &drop);
        QCoreApplication::processEvents();
        return enter.isAccepted() && drop.isAccepted();
    }
    // Everything a handler may change, and what it asked of the player and the dialogs.
    QString shown() const
    {
        const Form1 &f = *form;
        return undir(
            QStringList{f.state.SourceFile, f.windowTitle(), f.Command1->text(), f.T->isActive() ? "T on" : "T off",
                        f.Check1->isChecked() ? "precise" : "plain", "browsed " + browsed.value(0).path(),
                        QStringLiteral("H %1/%2 %3").arg(f.H->value()).arg(f.H->maximum()).arg(f.H->isEnabled()),
                        f.Label7->text(), f.Label9->text(), f.Label3->text(), f.Label4->text(),
                        "player: " + player.commands.join(' '), "said: " + dialogs.messages.join(" / "),
                        QStringLiteral("asked %1 %2").arg(dialogs.openDialogs.size()).arg(dialogs.saveDialogs.size())}
                .join(" | "));
    }
};

QWidget *control(Form1 &f, const QString &name)
{
#define C(x)                                                                                                           \
    {                                                                                                                  \
#x, f.x                                                                                                        \
    }
    const QHash<QString, QWidget *> controls{C(Command1), C(Command2), C(Command3),    C(Command4), C(Command5),
                                             C(Command6), C(Command7), C(Command9),    C(Check1),   C(Label1),
                                             C(Label3),   C(Label4),   C(Label7),      C(Label9),   C(H),
                                             C(pb),       C(mp),       C(WebBrowser1), {"form", &f}};
#undef C
    if (!controls.contains(name))
        qFatal("no control %s", qPrintable(name));
    return controls.value(name);
}

// What the window told assistive tools of text and description changes, while a test listens.
QStringList heard;
void listen(QAccessibleEvent *e)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(e->object());
    const QString who = e->object()->metaObject()->className() + QString(" ") + iface->text(QAccessible::Name);
    if (e->type() == QAccessible::TextUpdated) {
        const auto *t = static_cast<QAccessibleTextUpdateEvent *>(e);
        heard << QStringLiteral("%1: '%2' -> '%3'").arg(who, t->textRemoved(), t->textInserted());
    } else if (e->type() == QAccessible::ValueChanged) {
        heard << who + ": value " + static_cast<QAccessibleValueChangeEvent *>(e)->value().toString();
    } else if (e->type() == QAccessible::DescriptionChanged) {
        heard << who + ": " + iface->text(QAccessible::Description);
    }
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

public:
    static void initMain() { QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); } // for WebEngine
public slots:
    void openInBrowser(const QUrl &url) { browsed << url; } // stands in for the system's browser
private slots:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openInBrowser"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    void init() { browsed.clear(); }

    void commandLine_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QString>("expected"); // action, then the file's bytes in hex, or the error
        const std::pair<QByteArrayList, QString> rows[] = {
            {{}, "run"},
            {{"\xff\xfe.vob"}, "run fffe2e766f62"},
            {{"-"}, "run 2d"},
            {{"--", "--help"}, "run 2d2d68656c70"},
            {{"-h"}, "help"},
            {{"-style", "x", "y", "--help"}, "help"},
            {{"a.vob", "--version"}, "version"},
            {{"--version", "-h"}, "help"},
            {{"-x", "a.vob"}, "refuse unknown option '-x'"},
            {{"a", "b"}, "refuse one FILE at a time, not also 'b'"},
            {{"a", "--", "-b"}, "refuse one FILE at a time, not also '-b'"}};
        for (const auto &[arguments, expected] : rows)
            QTest::newRow(qPrintable("[" + arguments.join(' ') + "]")) << arguments << expected;
    }
    void commandLine()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QString, expected);
        const CommandLine line = CommandLine::parse(arguments);
        QString got = QStringList{"run", "help", "version", "refuse"}[int(line.action)];
        if (line.file && line.action == CommandLine::Action::Run)
            got += " " + line.file->toHex();
        if (line.action == CommandLine::Action::Refuse)
            got += " " + line.error;
        QCOMPARE(got, expected);
    }

    // Exit status and the start of stdout, or of stderr when it fails; --help and --version need no display.
    void binary()
    {
        const QString morvane = QFileInfo(MORVANE_CUT_PATH).dir().filePath("morvane");
        QVERIFY2(QFileInfo::exists(morvane), qPrintable(morvane + " is not built"));
        QStringList got, expected{"0 Usage: morvane [FILE]\n", "0 morvane " MORVANE_VERSION "\n",
                                  "2 morvane: one FILE at a time, not also 'b'\n"};
        for (const QStringList &arguments : {QStringList{"--help"}, {"--version"}, {"a", "b"}}) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            if (arguments.first().startsWith("--"))
                env.remove("QT_QPA_PLATFORM"), env.remove("DISPLAY");
            p.setProcessEnvironment(env);
            p.start(morvane, arguments);
            p.waitForFinished(20000);
            const QString text = p.exitCode() ? "morvane:" + QString(p.readAllStandardError()).section("morvane:", 1)
                                              : QString(p.readAllStandardOutput());
            got << QString::number(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1) + ' '
                       + text.left(expected[got.size()].size() - 2);
        }
        QCOMPARE(got, expected);
    }

    // A file dropped on the window; the command line's file takes the same way from its bytes on.
    void drops_data()
    {
        QTest::addColumn<QString>("urls"); // space-separated, encoded; DIR is the test's folder; none: a text drop
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("expected"); // taken | player | message
        const QString opened = "yes | FileName(DIR/a.vob) Play | ";
        const QString notOurs = "Only a file on this computer can be opened";
        QTest::newRow("one file") << "file://DIR/a.vob"
                                  << "form" << opened;
        QTest::newRow("on the web panel") << "file://DIR/a.vob"
                                          << "WebBrowser1" << opened;
        QTest::newRow("localhost, on a button") << "file://localhostDIR/a.vob"
                                                << "Command7" << opened;
        QTest::newRow("utf-8 name") << "file://DIR/%C3%A9.vob"
                                    << "mp" << QString("yes | FileName(DIR/é.vob) Play | ");
        QTest::newRow("two files") << "file://DIR/a.vob file://DIR/b.vob"
                                   << "form"
                                   << "yes |  | Drop one file at a time: Morvane works on one source file.";
        QTest::newRow("web address") << "https://m.example/a.vob"
                                     << "H"
                                     << "yes |  | " + notOurs + ", not \"https://m.example/a.vob\".";
        QTest::newRow("other host") << "file://m.exampleDIR/a.vob"
                                    << "form"
                                    << "yes |  | " + notOurs + ", not \"file://m.exampleDIR/a.vob\".";
        QTest::newRow("bytes not utf-8")
            << "file://DIR/%FF.vob"
            << "form"
            << "yes |  | Cannot open \"DIR/\uFFFD.vob\".\nIts name is not valid UTF-8, so Morvane "
               "cannot pass it on unchanged. Rename the file and try again.";
        QTest::newRow("not a url") << ""
                                   << "form"
                                   << "no |  | ";
        QTest::newRow("missing") << "file://DIR/no"
                                 << "form"
                                 << "yes |  | Cannot open \"DIR/no\".\nNo such file or directory";
        QTest::newRow("a folder") << "file://DIR"
                                  << "form"
                                  << "yes |  | Cannot open \"DIR\".\nIs a directory";
        QTest::newRow("a named pipe") << "file://DIR/pipe.vob"
                                      << "form"
                                      << "yes |  | Cannot open \"DIR/pipe.vob\".\nIt is not a regular file";
        QTest::newRow("while saving") << "file://DIR/b.vob"
                                      << "saving"
                                      << "no |  | ";
        QTest::newRow("player refuses")
            << "file://DIR/b.vob"
            << "form"
            << "yes | FileName(DIR/b.vob) | Cannot play \"DIR/b.vob\".\nthe file is not a playable video";
    }
    void drops()
    {
        QFETCH(QString, urls);
        QFETCH(QString, target);
        QFETCH(QString, expected);
        Window w;
        w.player.refused << QFile::decodeName(w.path("b.vob"));
        QVERIFY(!::mkfifo(w.path("pipe.vob").constData(), 0644)); // no writer: opening it to read would wait
        urls.replace("DIR", w.dir.path());
        QMimeData mime;
        QList<QUrl> list;
        for (const QString &u : urls.split(' ', Qt::SkipEmptyParts))
            list << QUrl::fromEncoded(u.toUtf8());
        list.isEmpty() ? mime.setText(w.dir.path() + "/a.vob") : mime.setUrls(list);
        bool taken = false;
        if (target == "saving") { // Save's dialog locks the window
            w.prepare();
            w.dialogs.whileSaving = [&] { w.player.commands.clear(), taken = w.drop(&mime, w.form.get()); };
            click(w.form->Command7);
        } else {
            taken = w.drop(&mime, control(*w.form, target));
        }
        QCOMPARE(
            w.undir(QStringList{taken ? "yes" : "no", w.player.commands.join(' '), w.dialogs.messages.join(" / ")}.join(
                " | ")),
            expected);
        QCOMPARE(w.form->Command4->isEnabled(), true); // unlocked after the load, whatever it gave
    }

    // A given file replaces the one playing exactly as Open would: stop first, reset the marks.
    void givenFileLikeOpen()
    {
        Window byDialog, byName;
        for (Window *w : {&byDialog, &byName})
            w->prepare(), w->dialogs.openDialogs.clear();
        click(byDialog.form->Command4);
        byName.form->openGivenFile(byName.path("b.vob"));
        byName.dialogs.openAnswers.clear();
        byDialog.dialogs.openDialogs.clear();
        QCOMPARE(byName.shown(), byDialog.shown());
        QVERIFY2(byName.shown().contains("player: Seek(0) Close FileName(DIR/b.vob) Play"), qPrintable(byName.shown()));
    }

    // Space and Enter press the focused button or link and tick the focused check box; elsewhere (the window:
    // "form" is nothing focused) Space plays or pauses. Each other key does what a click on its button does, or
    // seeks 5 s, wherever the focus is. Nothing while Save's dialog locks the window.
    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("at"); // the slider's value before
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("button");   // whose click the key does; none for a seek
        QTest::addColumn<QString>("expected"); // the end of its tooltip; for a seek, slider value and player commands
        const struct {
            const char *name;
            int key, at;
            const char *focus, *button, *expected;
        } rows[] = {{"Space on slider", Qt::Key_Space, 42, "H", "Command1",
                     "(Space, unless a button, the check box, the link or the information panel has the focus)"},
                    {"Space on video", Qt::Key_Space, 42, "mp", "Command1", "(Space, unless"},
                    {"Space, nothing focused", Qt::Key_Space, 42, "form", "Command1", "(Space, unless"},
                    {"Home on slider", Qt::Key_Home, 42, "H", "Command2", "(Home, outside the information panel)"},
                    {"Ctrl+O", ctrl | Qt::Key_O, 42, "mp", "Command4", "(Ctrl+O)"},
                    {"Ctrl+S", ctrl | Qt::Key_S, 42, "Command1", "Command7", "(Ctrl+S)"},
                    {"I", Qt::Key_I, 42, "WebBrowser1", "Command5", "(I or [)"},
                    {"[", Qt::Key_BracketLeft, 42, "Command6", "Command5", "(I or [)"},
                    {"O", Qt::Key_O, 42, "Command9", "Command6", "(O or ])"},
                    {"]", Qt::Key_BracketRight, 42, "H", "Command6", "(O or ])"},
                    {"P", Qt::Key_P, 42, "Command5", "Command9", "(P)"},
                    {"Right", Qt::Key_Right, 42, "Command1", "", "47 Seek(47)"},
                    {"Left", Qt::Key_Left, 42, "H", "", "37 Seek(37)"},
                    {"Left past 0", Qt::Key_Left, 3, "form", "", "0 Seek(0)"},
                    {"Right past the end", Qt::Key_Right, 97, "mp", "", "100 Seek(100)"},
                    {"Right at the end", Qt::Key_Right, 100, "H", "", "100 "},
                    {"Left at the start", Qt::Key_Left, 0, "H", "", "0 "}};
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.key << r.at << r.focus << r.button << r.expected;
        for (const char *focused : {"Command1", "Command2", "Command4", "Command7", "Command3", "Command9", "Command6",
                                    "Command5", "Check1", "Label1"})
            for (const auto &[key, name] : {std::pair{Qt::Key_Space, "Space"}, {Qt::Key_Return, "Enter"}})
                QTest::newRow(qPrintable(QString("%1 on %2").arg(name, focused)))
                    << int(key) << 42 << focused << focused << "";
    }
    void keys()
    {
        QFETCH(int, key);
        QFETCH(int, at);
        QFETCH(QString, focus);
        QFETCH(QString, button);
        QFETCH(QString, expected);
        Window clicked, pressed, saving; // the last made is the active one
        for (Window *w : {&clicked, &pressed, &saving})
            w->prepare(), w->form->H->setValue(at); // where the last tick left it
        QString during, after;
        saving.dialogs.whileSaving = [&] {
            during = saving.shown();
            press(saving.form->Command1, key);
            after = saving.shown();
        };
        click(saving.form->Command7);
        QVERIFY2(during.contains("Saving") && during.contains("H 0/100 0"), qPrintable(during)); // really locked
        QCOMPARE(after, during);
        QCOMPARE(saving.form->Command4->isEnabled(), true); // and unlocked once the dialog is cancelled

        pressed.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pressed.form.get()));
        const QString before = pressed.shown();
        press(control(*pressed.form, focus), key);
        if (button.isEmpty()) {
            QCOMPARE(QString::number(pressed.form->H->value()) + ' ' + pressed.player.commands.join(' '), expected);
            return;
        }
        const QString afterKey = pressed.shown(); // before the click: both windows share the browser
        click(control(*clicked.form, button));
        QCOMPARE(afterKey, clicked.shown());
        QVERIFY2(afterKey != before, qPrintable("nothing happened: " + before));
        const QString toolTip = control(*pressed.form, button)->toolTip();
        QVERIFY2(toolTip.contains(expected), qPrintable(toolTip));
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
        click(form.Command4);
        form.H->setValue(42);
        player.commands.clear();
        QWidget *page = form.WebBrowser1->focusProxy() ? form.WebBrowser1->focusProxy() : form.WebBrowser1;
        page->setFocus();
        QTRY_VERIFY(page->hasFocus());
        for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Right, Qt::Key_Left, Qt::Key_Home})
            QTest::keyClick(QApplication::focusWidget(), key);
        QCOMPARE(QStringList({form.Command1->text(), QString::number(form.H->value()), player.commands.join(' ')}),
                 QStringList({"Pause", "42", ""}));
    }

    // What assistive tools see and hear, and the codec link's ways in.
    void accessible()
    {
        Window w;
        Form1 &f = *w.form;
        w.prepare();
        {
            heard.clear(); // a screen reader hears the read-outs change, with the old and the new text
            QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true); // as one on the bus would
            const auto previous = QAccessible::installUpdateHandler(listen);
            const auto restore = qScopeGuard([previous] { QAccessible::installUpdateHandler(previous); });
            w.player.setPosition(30);
            f.T_Timer();
            click(f.Command6); // end 30, length 20
            f.pb->setByteMaximum(200);
            f.pb->setByteValue(1); // 0%: nothing to say
            f.pb->setByteValue(3); // 1%
            QCOMPARE(heard, (QStringList{"morvane::SeekSlider Position slider: value 30",
                                         "morvane::ReadOut Position: ' 0 : 0 : 42' -> ' 0 : 0 : 30'",
                                         "morvane::ReadOut End mark: ' 0 : 0 : 12' -> ' 0 : 0 : 30'",
                                         "morvane::ReadOut Selection length: ' 0 : 0 : 2' -> ' 0 : 0 : 20'",
                                         "morvane::ClipProgressBar Clip progress: value 1",
                                         "morvane::ClipProgressBar Clip progress: 1%"}));
        }
        f.pb->setByteMaximum(3'000'000'000LL);
        f.pb->setByteValue(1'350'000'000LL);
        QStringList got; // name, role, read-only, value or text interface, value, description, actions
        for (const QString &name : QString("form Label7 Label3 H pb mp WebBrowser1 Command1 Label1").split(' ')) {
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(control(f, name));
            QAccessibleTextInterface *t = a->textInterface();
            const char *role = QMetaEnum::fromType<QAccessible::Role>().valueToKey(a->role());
            got << QStringList{a->text(QAccessible::Name),
                               role,
                               a->state().readOnly ? "read-only" : "",
                               a->valueInterface() ? "value" : "",
                               t ? "text '" + t->text(0, t->characterCount()) + "'" : "",
                               a->text(QAccessible::Value),
                               a->text(QAccessible::Description),
                               a->actionInterface() ? a->actionInterface()->actionNames().join(',') : ""}
                       .join(" / ");
        }
        QCOMPARE(
            got,
            (QStringList{
                "Morvane 1.0 / Window /  /  /  /  /  / ", // "frame" on the AT-SPI bus, not "filler" (Client)
                "Start mark / StaticText / read-only /  / text ' 0 : 0 : 10' /  0 : 0 : 10 /  / ",
                "Selection length / StaticText / read-only /  / text ' 0 : 0 : 20' /  0 : 0 : 20 /  / ",
                "Position slider / Slider /  / value /  / 30 / Position (Left and Right: 5 seconds back and forward; "
                "Page Down and Page Up: next and previous chapter of a DVD title; outside the information panel)"
                " / SetFocus",
                "Clip progress / ProgressBar / read-only / value /  / 45% / 45% / ",
                "Video / Client /  /  /  /  /  / SetFocus", "Information / Client /  /  /  /  /  / SetFocus",
                "Play / Button /  /  /  /  / Play or pause (Space, unless a button, the check box, the link or the "
                "information panel has the focus) / Press,SetFocus",
                "Unable to play? Get DVD codecs now / Link /  /  /  /  / Open the codec download page in your web "
                "browser"
                " / Press,SetFocus"}));
        QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(f.pb); // read, not set, through its value
        QAccessibleValueInterface *value = bar->valueInterface();
        QVERIFY(QAccessibleBridgeUtils::performEffectiveAction(bar, QAccessibleActionInterface::increaseAction()));
        value->setCurrentValue(10);
        QCOMPARE((QVariantList{value->minimumValue(), value->maximumValue(), value->currentValue(),
                               qlonglong(f.pb->byteValue())}),
                 (QVariantList{0, 100, 45, qlonglong(1350000000)}));
        QWidget *next = f.mp->nextInFocusChain(); // Tab reaches the codec link after the video
        while (!(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, static_cast<QWidget *>(f.Label1));

        got.clear(); // keys and the press action open the codec page; the focused link takes Space from Play
        for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter), int(Qt::Key_Space), 0}) {
            if (key)
                press(f.Label1, key);
            else
                QAccessible::queryAccessibleInterface(f.Label1)->actionInterface()->doAction("Press");
            got << QStringLiteral("%1 %2").arg(browsed.size()).arg(browsed.isEmpty() ? "" : browsed.last().path());
        }
        got << f.Command1->text() + w.player.commands.join(' ');
        QCOMPARE(got.join(", "), "1 /codecdownload.html, 2 /codecdownload.html, 3 /codecdownload.html, "
                                 "4 /codecdownload.html, Play");
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
