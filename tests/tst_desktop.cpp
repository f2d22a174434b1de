// The ways in from the desktop: a file on the command line, a drop, the keyboard shortcuts and what assistive
// tools see, on the real window with the scripted player.

#include "app/ui/CommandLine.h"
#include "support/ScriptedDialogs.h"
#include "support/ScriptedPlayer.h"
#include "app/ui/Form1.h"
#include "app/web/WebEngineWebPanel.h"
#include "playback/media/QtMediaPlayer.h"

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
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

// Scripted answers, and a hook that runs while the save dialog is up: the editing controls are locked then.
struct HookedDialogs : ScriptedDialogs {
    std::function<void()> whileSaving;
    std::optional<QString> saveFile(const QString &title, const QString &filter, int index,
                                    const QString &name) override
    {
        if (whileSaving)
            whileSaving();
        return ScriptedDialogs::saveFile(title, filter, index, name);
    }
};

struct Window {
    ScriptedPlayer player;
    HookedDialogs dialogs;
    ScriptedWebPanel web;
    QTemporaryDir dir;
    std::unique_ptr<Form1> form = std::make_unique<Form1>(player, dialogs, web);

    QByteArrayList made;

    Window()
    {
        form->show();
        form->activateWindow();
    }
    ~Window()
    {
        for (const QByteArray &path : made) // QTemporaryDir cannot remove names that are not UTF-8
            ::unlink(path.constData());
    }
    // A file in the test's folder, named by raw bytes; its path as the file system's bytes.
    QByteArray file(const QByteArray &name, const QByteArray &contents = QByteArray(4096, 'v'))
    {
        const QByteArray path = QFile::encodeName(dir.path()) + '/' + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, contents.constData(), size_t(contents.size())) != contents.size())
            qFatal("cannot write %s", path.constData());
        ::close(fd);
        made << path;
        return path;
    }
    void open(const QString &path)
    {
        dialogs.openAnswers << path;
        QTest::mouseClick(form->Command4, Qt::LeftButton);
    }
    // Paused at 42 s of a 100 s file, marks 10 and 12; b.vob waits as the next file the open dialog gives.
    void prepare()
    {
        open(QFile::decodeName(file("a.vob")));
        QTest::mouseClick(form->Command1, Qt::LeftButton); // pause
        for (const auto &[at, mark] : {std::pair{10, form->Command5}, std::pair{12, form->Command6}}) {
            player.setPosition(at);
            form->T_Timer();
            QTest::mouseClick(mark, Qt::LeftButton);
        }
        player.setPosition(42);
        form->T_Timer();
        player.step = 0.5; // each position read moves Play Selected half a second on
        dialogs.openAnswers << QFile::decodeName(file("b.vob"));
        player.commands.clear();
    }
    // Drags mime over target and drops it; whether the window took it, after the queued open has run.
    bool drop(QMimeData *mime, QWidget *target = nullptr)
    {
        target = target ? target : form.get();
        const QPoint at(target->width() / 2, target->height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        QApplication::sendEvent(target, &enter);
        QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        drop.ignore();
        QApplication::sendEvent(target, &drop);
        QCoreApplication::processEvents();
        return enter.isAccepted() && drop.isAccepted();
    }
};

std::unique_ptr<QMimeData> uris(const QList<QUrl> &urls)
{
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls(urls);
    return mime;
}

// Everything a handler may change, and what it asked of the player and the dialogs.
QString shown(const Window &w)
{
    const Form1 &f = *w.form;
    return QStringList{QFileInfo(f.state.SourceFile).fileName(), f.Command1->text(), f.windowTitle(),
                       f.T->isActive() ? "T on" : "T off", f.state.IsPlaying ? "playing" : "idle",
                       QStringLiteral("H %1/%2 %3").arg(f.H->value()).arg(f.H->maximum()).arg(f.H->isEnabled()),
                       QStringLiteral("marks %1-%2 lines %3-%4")
                           .arg(f.state.StartSecond).arg(f.state.EndSecond).arg(f.Line1->X1()).arg(f.Line2->X1()),
                       f.Label7->text(), f.Label9->text(), f.Label3->text(), f.Label4->text(),
                       "player: " + w.player.commands.join(' '),
                       QStringLiteral("asked open %1 save %2").arg(w.dialogs.openDialogs.size())
                           .arg(w.dialogs.saveDialogs.size()),
                       "said: " + w.dialogs.messages.join(" / ")}
        .join(" | ");
}

QWidget *control(Form1 &f, const QString &name)
{
    const QHash<QString, QWidget *> controls{
        {"Command1", f.Command1}, {"Command2", f.Command2}, {"Command3", f.Command3}, {"Command4", f.Command4},
        {"Command5", f.Command5}, {"Command6", f.Command6}, {"Command7", f.Command7}, {"Command9", f.Command9},
        {"Label1", f.Label1},     {"Label3", f.Label3},     {"Label4", f.Label4},     {"Label7", f.Label7},
        {"Label9", f.Label9},     {"H", f.H},               {"pb", f.pb},             {"mp", f.mp},
        {"WebBrowser1", f.WebBrowser1}};
    if (!controls.contains(name))
        qFatal("no control %s", qPrintable(name));
    return controls.value(name);
}

QString morvaneBinary()
{
    return QFileInfo(QStringLiteral(MORVANE_CUT_PATH)).dir().filePath(QStringLiteral("morvane"));
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
    } else if (e->type() == QAccessible::DescriptionChanged) {
        heard << who + ": " + iface->text(QAccessible::Description);
    }
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
    QList<QUrl> browsed;
public:
    static void initMain() { QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); } // for WebEngine
public slots:
    void openInBrowser(const QUrl &url) { browsed << url; } // stands in for the system's browser
private slots:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openInBrowser"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    void commandLine_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QString>("expected"); // action, then the file's bytes in hex, or the error
        using L = QByteArrayList;
        QTest::newRow("nothing") << L{} << "run";
        QTest::newRow("file") << L{"a.vob"} << "run 612e766f62";
        QTest::newRow("bytes kept") << L{"\xff\xfe.vob"} << "run fffe2e766f62";
        QTest::newRow("dash is a file") << L{"-"} << "run 2d";
        QTest::newRow("after --") << L{"--", "--help"} << "run 2d2d68656c70";
        QTest::newRow("help") << L{"--help"} << "help";
        QTest::newRow("-h") << L{"-h"} << "help";
        QTest::newRow("help wins") << L{"-style", "x", "y", "--help"} << "help";
        QTest::newRow("version") << L{"a.vob", "--version"} << "version";
        QTest::newRow("help before version") << L{"--version", "-h"} << "help";
        QTest::newRow("unknown") << L{"-x", "a.vob"} << "refuse unknown option '-x'";
        QTest::newRow("two files") << L{"a", "b"} << "refuse one FILE at a time, not also 'b'";
        QTest::newRow("two after --") << L{"a", "--", "-b"} << "refuse one FILE at a time, not also '-b'";
    }
    void commandLine()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QString, expected);
        const CommandLine line = CommandLine::parse(arguments);
        const char *names[] = {"run", "help", "version", "refuse"};
        QString got = names[int(line.action)];
        if (line.file && line.action == CommandLine::Action::Run)
            got += " " + line.file->toHex();
        if (line.action == CommandLine::Action::Refuse)
            got += " " + line.error;
        QCOMPARE(got, expected);
    }

    void binary_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // the start of stdout, or of stderr when it fails
        QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: morvane [FILE]\n";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "morvane " MORVANE_VERSION "\n";
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << 2 << "morvane: unknown option '--frobnicate'\n";
        QTest::newRow("two files") << QStringList{"a", "b"} << 2 << "morvane: one FILE at a time, not also 'b'\n";
    }
    void binary()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QVERIFY2(QFileInfo::exists(morvaneBinary()), qPrintable(morvaneBinary() + " is not built"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (status == 0) { // answers without a display
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
            env.remove(QStringLiteral("DISPLAY"));
        }
        p.setProcessEnvironment(env);
        p.start(morvaneBinary(), arguments);
        QVERIFY2(p.waitForFinished(20000), "morvane did not exit");
        const QString stdOut = p.readAllStandardOutput(), stdErr = p.readAllStandardError();
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), status);
        const QString text = status == 0 ? stdOut : stdErr.section(QStringLiteral("morvane:"), 1).prepend("morvane:");
        QVERIFY2(text.startsWith(out), qPrintable(text));
    }

    // A file named to the window from outside the dialog: the command line and drops both end here.
    void givenFile_data()
    {
        QTest::addColumn<QByteArray>("name"); // created in the test's folder unless "missing"; "dir" is the folder
        QTest::addColumn<bool>("playable");
        QTest::addColumn<QString>("expected"); // file | caption | player | message, the folder written as DIR
        QTest::newRow("good") << QByteArray("a.vob") << true << "a.vob | Pause | FileName(DIR/a.vob) Play | ";
        QTest::newRow("utf-8 name") << QByteArray("\xc3\xa9t\xc3\xa9.vob") << true
                                    << QString::fromUtf8("été.vob | Pause | FileName(DIR/été.vob) Play | ");
        QTest::newRow("missing") << QByteArray("missing") << true
                                 << " | Play |  | Cannot open \"DIR/missing\".\nNo such file or directory";
        QTest::newRow("directory") << QByteArray("dir") << true << " | Play |  | Cannot open \"DIR\".\nIs a directory";
        QTest::newRow("random bytes as a name") << QByteArray("\x8f\xff\x01z.vob") << true
            << QString::fromUtf8(" | Play |  | Cannot open \"DIR/\uFFFD\uFFFD\x01z.vob\".\nIts name is not valid "
                                 "UTF-8, so Morvane cannot pass it on unchanged. Rename the file and try again.");
        QTest::newRow("random bytes inside") << QByteArray("noise.vob") << false
            << " | Play | FileName(DIR/noise.vob) | Cannot play \"DIR/noise.vob\".\nthe file is not a playable video";
    }
    void givenFile()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, playable);
        QFETCH(QString, expected);
        Window w;
        QByteArray path = QFile::encodeName(w.dir.path()) + '/' + name;
        if (name == "dir")
            path = QFile::encodeName(w.dir.path());
        else if (name != "missing")
            w.file(name, name == "noise.vob" ? QByteArray::fromHex("8f3a00ff17c2e0014b9d") : QByteArray(4096, 'v'));
        if (!playable)
            w.player.refused << QFile::decodeName(path);
        w.form->openGivenFile(path);
        const QString got = QStringList{QFileInfo(w.form->state.SourceFile).fileName(), w.form->Command1->text(),
                                        w.player.commands.join(' '), w.dialogs.messages.join(" / ")}
                                .join(" | ").replace(w.dir.path(), "DIR");
        QCOMPARE(got, expected);
        QCOMPARE(w.form->Command4->isEnabled(), true); // unlocked after the load, whatever it gave
    }

    // The same on the real player, with media made for the tests: a DVD plays, random bytes get Open's message.
    void givenFileRealPlayer_data()
    {
        QTest::addColumn<QString>("media");
        QTest::addColumn<QString>("expected"); // file | caption | slider maximum | message, the media folder as M
        QTest::newRow("dvd") << "dvd.vob" << "M/dvd.vob | Pause | 10 | ";
        QTest::newRow("random bytes") << "random.bin" << " | Play | 10 | Cannot play \"M/random.bin\".";
    }
    void givenFileRealPlayer()
    {
        QFETCH(QString, media);
        QFETCH(QString, expected);
        QtMediaPlayer player;
        ScriptedDialogs dialogs;
        ScriptedWebPanel web;
        Form1 form(player, dialogs, web);
        form.show();
        form.openGivenFile(QFile::encodeName(MORVANE_TEST_MEDIA "/" + media));
        const QString got = QStringList{form.state.SourceFile, form.Command1->text(),
                                        QString::number(form.H->maximum()),
                                        dialogs.messages.join(" / ").section('\n', 0, 0)}
                                .join(" | ").replace(MORVANE_TEST_MEDIA, "M");
        QCOMPARE(got, expected);
    }

    // A given file replaces the one playing exactly as Open would: stop first, reset the marks.
    void givenFileLikeOpen()
    {
        Window byDialog, byName;
        for (Window *w : {&byDialog, &byName}) {
            w->prepare();
            w->dialogs.openAnswers.clear();
            w->dialogs.openDialogs.clear();
        }
        byDialog.open(byDialog.dir.path() + "/b.vob");
        byName.form->openGivenFile(QFile::encodeName(byName.dir.path()) + "/b.vob");
        byDialog.dialogs.openDialogs.clear();
        const QString viaDialog = shown(byDialog).replace(byDialog.dir.path(), "DIR");
        QCOMPARE(shown(byName).replace(byName.dir.path(), "DIR"), viaDialog);
        QVERIFY2(viaDialog.contains("player: Seek(0) Close FileName(DIR/b.vob) Play"), qPrintable(viaDialog));
    }

    void drops_data()
    {
        QTest::addColumn<QString>("urls"); // space-separated, encoded; DIR is the test's folder
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("expected"); // taken | player | message
        QTest::newRow("one file") << "file://DIR/a.vob" << "form" << "yes | FileName(DIR/a.vob) Play | ";
        QTest::newRow("on the web panel") << "file://DIR/a.vob" << "WebBrowser1" << "yes | FileName(DIR/a.vob) Play | ";
        QTest::newRow("on a button") << "file://DIR/a.vob" << "Command7" << "yes | FileName(DIR/a.vob) Play | ";
        QTest::newRow("localhost") << "file://localhostDIR/a.vob" << "mp" << "yes | FileName(DIR/a.vob) Play | ";
        QTest::newRow("utf-8 name") << "file://DIR/%C3%A9.vob" << "form"
                                    << QString::fromUtf8("yes | FileName(DIR/é.vob) Play | ");
        QTest::newRow("two files") << "file://DIR/a.vob file://DIR/b.vob" << "form"
                                   << "yes |  | Drop one file at a time: Morvane works on one source file.";
        QTest::newRow("web address") << "https://morvane.example/a.vob" << "form"
            << "yes |  | Only a file on this computer can be opened, not \"https://morvane.example/a.vob\".";
        QTest::newRow("other host") << "file://elsewhere.exampleDIR/a.vob" << "form"
            << "yes |  | Only a file on this computer can be opened, not \"file://elsewhere.exampleDIR/a.vob\".";
        QTest::newRow("bytes not utf-8") << "file://DIR/%FF.vob" << "form"
            << QString::fromUtf8("yes |  | Cannot open \"DIR/\uFFFD.vob\".\nIts name is not valid UTF-8, so Morvane "
                                 "cannot pass it on unchanged. Rename the file and try again.");
        QTest::newRow("not a url") << "" << "form" << "no |  | ";
    }
    void drops()
    {
        QFETCH(QString, urls);
        QFETCH(QString, target);
        QFETCH(QString, expected);
        Window w;
        for (const QByteArray name : {"a.vob", "b.vob", "\xc3\xa9.vob", "\xff.vob"})
            w.file(name);
        auto *mime = new QMimeData;
        QList<QUrl> list;
        for (const QString &u : urls.split(' ', Qt::SkipEmptyParts))
            list << QUrl::fromEncoded(QString(u).replace("DIR", w.dir.path()).toUtf8());
        if (list.isEmpty())
            mime->setText(w.dir.path() + "/a.vob");
        else
            mime->setUrls(list);
        const std::unique_ptr<QMimeData> owned(mime);
        const bool taken = w.drop(mime, target == "form" ? nullptr : control(*w.form, target));
        const QString got = QStringList{taken ? "yes" : "no", w.player.commands.join(' '),
                                        w.dialogs.messages.join(" / ")}.join(" | ").replace(w.dir.path(), "DIR");
        QCOMPARE(got, expected);
    }

    // Each key does what a click on its button does, wherever the focus is; Left and Right have their own test.
    void shortcuts_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("tip"); // the key as the button's tooltip names it
        QTest::newRow("Space on Stop") << int(Qt::Key_Space) << 0 << "Command2" << "Command1" << "(Space)";
        QTest::newRow("Space on Open") << int(Qt::Key_Space) << 0 << "Command4" << "Command1" << "(Space)";
        QTest::newRow("Space on slider") << int(Qt::Key_Space) << 0 << "H" << "Command1" << "(Space)";
        QTest::newRow("Home on slider") << int(Qt::Key_Home) << 0 << "H" << "Command2" << "(Home)";
        QTest::newRow("Ctrl+O") << int(Qt::Key_O) << int(Qt::ControlModifier) << "mp" << "Command4" << "(Ctrl+O)";
        QTest::newRow("Ctrl+S") << int(Qt::Key_S) << int(Qt::ControlModifier) << "Command1" << "Command7"
                                << "(Ctrl+S)";
        QTest::newRow("I") << int(Qt::Key_I) << 0 << "WebBrowser1" << "Command5" << "(I or [)";
        QTest::newRow("[") << int(Qt::Key_BracketLeft) << 0 << "Command6" << "Command5" << "(I or [)";
        QTest::newRow("O") << int(Qt::Key_O) << 0 << "Command9" << "Command6" << "(O or ])";
        QTest::newRow("]") << int(Qt::Key_BracketRight) << 0 << "H" << "Command6" << "(O or ])";
        QTest::newRow("P") << int(Qt::Key_P) << 0 << "Command5" << "Command9" << "(P)";
    }
    void shortcuts()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, focus);
        QFETCH(QString, button);
        QFETCH(QString, tip);
        Window clicked, pressed;
        QVERIFY(QTest::qWaitForWindowActive(pressed.form.get()));
        for (Window *w : {&clicked, &pressed})
            w->prepare();
        const QString before = shown(pressed);
        QTest::mouseClick(control(*clicked.form, button), Qt::LeftButton);
        QWidget *focused = control(*pressed.form, focus);
        focused->setFocus();
        QTest::keyClick(focused, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        const QString byClick = shown(clicked).replace(clicked.dir.path(), "DIR");
        QCOMPARE(shown(pressed).replace(pressed.dir.path(), "DIR"), byClick);
        QVERIFY2(shown(pressed) != before, qPrintable("nothing happened: " + before));
        const QString toolTip = control(*pressed.form, button)->toolTip();
        QVERIFY2(toolTip.endsWith(tip), qPrintable(toolTip));
    }

    // The real web panel, focused, takes no key from the window: a page does not swallow Space or the arrows.
    void keysInRealWebPanel()
    {
        ScriptedPlayer player;
        ScriptedDialogs dialogs;
        WebEngineWebPanel web;
        Form1 form(player, dialogs, web);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        player.durations[QStringLiteral("/m/a.vob")] = 100;
        dialogs.openAnswers << QStringLiteral("/m/a.vob");
        QTest::mouseClick(form.Command4, Qt::LeftButton);
        form.H->setValue(42);
        player.commands.clear();
        QWidget *page = form.WebBrowser1->focusProxy() ? form.WebBrowser1->focusProxy() : form.WebBrowser1;
        page->setFocus();
        QTRY_VERIFY(page->hasFocus());
        for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Right, Qt::Key_Home})
            QTest::keyClick(QApplication::focusWidget(), key);
        QCOMPARE(QStringList({form.Command1->text(), QString::number(form.H->value()), player.commands.join(' ')}),
                 QStringList({"Play", "0", "Pause Seek(47) Seek(0)"}));
    }

    void seek_data()
    {
        QTest::addColumn<int>("at");   // slider value before
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("expected"); // slider value after | player commands
        QTest::newRow("forward") << 42 << int(Qt::Key_Right) << "Command1" << "47 | Seek(47)";
        QTest::newRow("back") << 42 << int(Qt::Key_Left) << "H" << "37 | Seek(37)";
        QTest::newRow("back past 0") << 3 << int(Qt::Key_Left) << "WebBrowser1" << "0 | Seek(0)";
        QTest::newRow("forward past the end") << 97 << int(Qt::Key_Right) << "mp" << "100 | Seek(100)";
        QTest::newRow("at the end") << 100 << int(Qt::Key_Right) << "H" << "100 | ";
        QTest::newRow("at the start") << 0 << int(Qt::Key_Left) << "H" << "0 | ";
    }
    void seek()
    {
        QFETCH(int, at);
        QFETCH(int, key);
        QFETCH(QString, focus);
        QFETCH(QString, expected);
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        w.prepare();
        w.form->H->setValue(at); // where the last tick left it
        control(*w.form, focus)->setFocus();
        QTest::keyClick(control(*w.form, focus), Qt::Key(key));
        QCOMPARE(QStringLiteral("%1 | %2").arg(w.form->H->value()).arg(w.player.commands.join(' ')), expected);
        QVERIFY(w.form->H->toolTip().contains("Left and Right"));
    }

    // While Save's dialog is up the editing controls are locked: no key and no drop does anything then.
    void lockedWhileSaving_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        for (const auto &[name, key] : {std::pair{"Space", Qt::Key_Space}, {"Home", Qt::Key_Home}, {"I", Qt::Key_I},
                                        {"[", Qt::Key_BracketLeft}, {"O", Qt::Key_O}, {"]", Qt::Key_BracketRight},
                                        {"P", Qt::Key_P}, {"Left", Qt::Key_Left}, {"Right", Qt::Key_Right}})
            QTest::newRow(name) << int(key) << 0;
        QTest::newRow("Ctrl+O") << int(Qt::Key_O) << int(Qt::ControlModifier);
        QTest::newRow("Ctrl+S") << int(Qt::Key_S) << int(Qt::ControlModifier);
        QTest::newRow("drop") << 0 << 0;
    }
    void lockedWhileSaving()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        w.prepare();
        w.form->H->setValue(42);
        QString during, after;
        bool dropTaken = false;
        w.dialogs.whileSaving = [&] {
            during = shown(w);
            w.form->Command1->setFocus();
            if (key)
                QTest::keyClick(w.form->Command1, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
            else
                dropTaken = w.drop(uris({QUrl::fromLocalFile(w.dir.path() + "/b.vob")}).get());
            after = shown(w);
        };
        QTest::mouseClick(w.form->Command7, Qt::LeftButton);
        QVERIFY2(during.contains("Saving") && during.contains("H 0/100 0"), qPrintable(during)); // really locked
        QCOMPARE(after, during);
        QVERIFY(!dropTaken);
        QCOMPARE(w.form->Command4->isEnabled(), true); // and unlocked once the dialog is cancelled
    }

    void codecLink_data()
    {
        QTest::addColumn<int>("key"); // 0: through the accessible press action
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Enter") << int(Qt::Key_Enter);
        QTest::newRow("Space") << int(Qt::Key_Space);
        QTest::newRow("press action") << 0;
    }
    void codecLink()
    {
        QFETCH(int, key);
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        browsed.clear();
        Form1 &f = *w.form;
        QWidget *next = f.mp->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, static_cast<QWidget *>(f.Label1)); // Tab reaches it after the video
        QAccessibleInterface *link = QAccessible::queryAccessibleInterface(f.Label1);
        QCOMPARE(link->role(), QAccessible::Link);
        QVERIFY(link->state().focusable);
        QCOMPARE(link->text(QAccessible::Name), QStringLiteral("Unable to play? Get DVD codecs now"));
        QVERIFY2(link->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()),
                 qPrintable(link->actionInterface()->actionNames().join(',')));
        f.Label1->setFocus();
        if (key)
            QTest::keyClick(f.Label1, Qt::Key(key));
        else
            link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(browsed.size(), 1);
        QCOMPARE(browsed.first().path(), QStringLiteral("/codecdownload.html"));
        QCOMPARE(f.Command1->text(), QStringLiteral("Play")); // Space went to the link, not to Play/Pause
        QCOMPARE(w.player.commands, QStringList());
    }

    void accessibleNames()
    {
        Window w;
        const QStringList expected{"Label7 Start mark", "Label9 End mark", "Label3 Selection length",
                                   "Label4 Position", "H Position slider", "pb Clip progress", "mp Video",
                                   "WebBrowser1 Information", "Command1 Play", "Command2 Stop", "Command3 Website",
                                   "Command4 Open", "Command5 Mark Start", "Command6 Mark End", "Command7 Save",
                                   "Command9 Play Selected"};
        QStringList got;
        for (const QString &row : expected) {
            const QString name = row.section(' ', 0, 0);
            got << name + ' ' + QAccessible::queryAccessibleInterface(control(*w.form, name))->text(QAccessible::Name);
        }
        QCOMPARE(got, expected);
    }

    void accessibleWindowAndReadOuts()
    {
        Window w;
        Form1 &f = *w.form;
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&f);
        QCOMPARE(window->role(), QAccessible::Window); // "frame" on the AT-SPI bus, not "filler" (Client)
        QCOMPARE(window->text(QAccessible::Name), QStringLiteral("Morvane 1.0"));

        QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(f.pb);
        QCOMPARE(bar->role(), QAccessible::ProgressBar);
        QVERIFY(bar->state().readOnly);
        QVERIFY(!bar->valueInterface()); // the bus offers Increase and Decrease on anything with a value
        QVERIFY(!bar->actionInterface() || bar->actionInterface()->actionNames().isEmpty());
        f.pb->setByteMaximum(3'000'000'000LL);
        f.pb->setByteValue(1'350'000'000LL);
        QCOMPARE(bar->text(QAccessible::Value), QStringLiteral("45%"));

        w.prepare(); // the read-outs now show times
        QAccessibleInterface *start = QAccessible::queryAccessibleInterface(f.Label7);
        QCOMPARE(start->role(), QAccessible::StaticText);
        QVERIFY(!start->valueInterface());
        QCOMPARE(start->text(QAccessible::Value), f.Label7->text());
        QVERIFY(start->textInterface());
        QCOMPARE(start->textInterface()->text(0, start->textInterface()->characterCount()), f.Label7->text());
        QCOMPARE(QAccessible::queryAccessibleInterface(f.Label3)->text(QAccessible::Value), f.Label3->text());
    }

    // A screen reader hears the read-outs change: a text event with the old and the new text.
    void readOutsAnnounce()
    {
        Window w;
        Form1 &f = *w.form;
        w.prepare();
        heard.clear();
        // As a screen reader on the bus would; offscreen nothing else does.
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        const auto previous = QAccessible::installUpdateHandler(listen);
        const auto restore = qScopeGuard([previous] { QAccessible::installUpdateHandler(previous); });
        w.player.setPosition(30);
        f.T_Timer();
        QTest::mouseClick(f.Command6, Qt::LeftButton); // end 30, length 20
        f.pb->setByteMaximum(200);
        f.pb->setByteValue(1); // 0%: nothing to say
        f.pb->setByteValue(3); // 1%
        QCOMPARE(heard, (QStringList{"morvane::ReadOut Position: ' 0 : 0 : 42' -> ' 0 : 0 : 30'",
                                     "morvane::ReadOut End mark: ' 0 : 0 : 12' -> ' 0 : 0 : 30'",
                                     "morvane::ReadOut Selection length: ' 0 : 0 : 2' -> ' 0 : 0 : 20'",
                                     "morvane::ClipProgressBar Clip progress: 1%"}));
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
