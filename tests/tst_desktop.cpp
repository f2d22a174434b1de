// The desktop's ways in, on the real window with the scripted player.

#include "app/ui/CommandLine.h"
#include "support/Files.h"
#include "support/WindowFixture.h"

#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QMimeData>
#include <QTemporaryDir>

using namespace morvane;
using namespace morvane::test;

namespace {

QList<QUrl> browsed; // the system's browser
QTemporaryDir files;

QAccessibleInterface *a11y(QObject *o) { return QAccessible::queryAccessibleInterface(o); }

QWidget *focused(QWidget *window, const QString &name)
{
    if (window->focusWidget())
        window->focusWidget()->clearFocus();
    for (QWidget *c : window->findChildren<QWidget *>())
        if (!name.isEmpty() && a11y(c)->text(QAccessible::Name) == name) {
            c->setFocus();
            return c;
        }
    return window;
}

// Active for its keys; a.vob (100 s) marked 10 to 12, paused at 42 s.
struct Window : WindowFixture {
    Window()
    {
        open(files.filePath("a.vob"));
        dialogs.openAnswers << files.filePath("b.vob");
        mark(10, 12);
        tick(42);
        player.step = 0.5; // Play Selected moves 0.5 s a read
        player.commands.clear();
        form->activateWindow();
        (void)QTest::qWaitForWindowActive(form.get());
    }
};

QStringList heard; // while a test listens
void listen(QAccessibleEvent *e)
{
    QAccessibleInterface *iface = a11y(e->object());
    const QString who = iface->text(QAccessible::Name) + ": ";
    if (e->type() == QAccessible::TextUpdated)
        heard << who + static_cast<QAccessibleTextUpdateEvent *>(e)->textInserted();
    else if (e->type() == QAccessible::ValueChanged)
        heard << who + static_cast<QAccessibleValueChangeEvent *>(e)->value().toString();
    else if (e->type() == QAccessible::DescriptionChanged)
        heard << who + iface->text(QAccessible::Description);
}

}

Q_DECLARE_METATYPE(CommandLine::Action)

class TestDesktop : public QObject {
    Q_OBJECT
public slots:
    void openInBrowser(const QUrl &url) { browsed << url; }
private slots:
    void initTestCase();
    void commandLine_data();
    // The parse; answers given with no window or display.
    void commandLine();
    // On any control, like Open and the command line.
    void drops_data();
    void drops();
    // Tooltip-named keys work from any focus; Space, Enter press a focused button; none while saving.
    void keys_data();
    void keys();
    // What assistive tools see and hear; the codec link's keys.
    void accessible();
};

void TestDesktop::initTestCase()
{
    QDesktopServices::setUrlHandler("https", this, "openInBrowser");
    for (const char *name : {"a.vob", "b.vob", "é.vob"})
        QVERIFY(writeFile(files.filePath(name), "vob"));
}

void TestDesktop::commandLine_data()
{
    QTest::addColumn<QByteArrayList>("arguments");
    QTest::addColumn<CommandLine::Action>("action");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("said"); // stdout's start, or stderr's end on refusal
    using A = CommandLine::Action;
    const auto row = [](const QByteArrayList &arguments, A action, const char *file, const QString &error,
                        const QString &said = {}) {
        QTest::newRow(qPrintable(arguments.join(' '))) << arguments << action << QByteArray(file) << error << said;
    };
    const QString second = "one FILE at a time, not also 'b'";
    row({"\xff\xfe.vob"}, A::Run, "\xff\xfe.vob", "");
    row({"-"}, A::Run, "-", "");
    row({"--", "--help"}, A::Run, "--help", "");
    row({"-x", "--version", "-h"}, A::Help, "", "unknown option '-x'", "Usage: morvane [FILE]\n");
    row({"a", "b", "--version"}, A::Version, "a", second, "morvane " MORVANE_VERSION "\n");
    row({"a", "--", "b"}, A::Refuse, "a", second, "morvane: " + second + "\nTry 'morvane --help'.\n");
}

void TestDesktop::commandLine()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(QString, said);
    const CommandLine line = CommandLine::parse(arguments);
    QTEST(line.action, "action");
    QTEST(line.file.value_or(""), "file");
    QTEST(line.error, "error");
    if (said.isEmpty())
        return;
    const bool refused = line.action == CommandLine::Action::Refuse;
    const QString morvane = QFileInfo(MORVANE_CUT_PATH).dir().filePath("morvane");
    const QStringList args = QString(arguments.join(' ')).split(' ');
    const Ran ran = refused ? run(morvane, args, {}, 20000)
                            : run("env", QStringList{"-u", "QT_QPA_PLATFORM", "-u", "DISPLAY", morvane} + args);
    QCOMPARE(ran.exitCode, refused ? 2 : 0);
    // stderr may open with the platform's notes
    QVERIFY2(refused ? ran.err.endsWith(said) : ran.out.startsWith(said), qPrintable(ran.out + ran.err));
}

void TestDesktop::drops_data()
{
    QTest::addColumn<QString>("url");    // DIR: the files' folder; none: a text drop
    QTest::addColumn<QString>("target"); // "saving": Save's dialog up
    QTest::addColumn<QString>("then");   // commands, or the message
    const auto row = [](const char *name, const QString &url, const QString &target, const QString &then) {
        QTest::newRow(name) << url << target << then;
    };
    row("localhost, utf-8, on the web panel", "file://localhostDIR/%C3%A9.vob", "Information",
        "Seek(0) Close FileName(DIR/é.vob) Play"); // stopped first
    row("two files", "file://DIR/a.vob file://DIR/b.vob", "",
        "Drop one file at a time: Morvane works on one source file.");
    row("another host", "file://m.exampleDIR/a.vob", "Video",
        "Only a file on this computer can be opened, not \"file://m.exampleDIR/a.vob\".");
    row("bytes not utf-8", "file://DIR/%FF.vob", "",
        "Cannot open \"DIR/\uFFFD.vob\".\nIts name is not valid UTF-8, so Morvane cannot pass it on unchanged. "
        "Rename the file and try again.");
    row("not a url", "", "", "");
    row("while saving", "file://DIR/b.vob", "saving", "");
}

void TestDesktop::drops()
{
    QFETCH(QString, url);
    QFETCH(QString, target);
    QFETCH(QString, then);
    Window w;
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &u : url.replace("DIR", files.path()).split(' ', Qt::SkipEmptyParts))
        urls << QUrl::fromEncoded(u.toUtf8());
    if (urls.isEmpty())
        mime.setText(files.filePath("a.vob"));
    else
        mime.setUrls(urls);
    QDragEnterEvent enter({1, 1}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop({1, 1}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    drop.ignore();
    const bool saving = target == "saving";
    QWidget *on = focused(w.form.get(), saving ? "" : target);
    w.dialogs.whileSaving = [&] {
        QApplication::sendEvent(on, &enter);
        QApplication::sendEvent(on, &drop);
    };
    if (saving)
        w.click(w.form->Command7);
    else
        w.dialogs.whileSaving();
    QCoreApplication::processEvents(); // the queued open
    QCOMPARE(enter.isAccepted() && drop.isAccepted(), !urls.isEmpty() && !saving);
    QCOMPARE(w.player.commands.join(' ') + w.dialogs.messages.join(" / "), then.replace("DIR", files.path()));
    QCOMPARE(w.shown().enabled, 9); // unlocked whatever the load gave
}

void TestDesktop::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("button"); // none: it seeks from at to to
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("to");
    const struct {
        QKeyCombination key;
        const char *focus, *button;
        int at = 42, to = 42;
    } rows[] = {{Qt::Key_Space, "Position slider", "Play"},         {Qt::Key_Home, "Position slider", "Stop"},
                {Qt::ControlModifier | Qt::Key_O, "Video", "Open"}, {Qt::ControlModifier | Qt::Key_S, "Play", "Save"},
                {Qt::Key_BracketLeft, "Information", "Mark Start"}, {Qt::Key_BracketRight, "Video", "Mark End"},
                {Qt::Key_P, "Mark End", "Play Selected"},           {Qt::Key_Space, "Stop", "Stop"},
                {Qt::Key_Return, "Precise cut", "Precise cut"},     {Qt::Key_Right, "Play", "", 42, 47},
                {Qt::Key_Right, "Position slider", "", 100, 100}};
    for (const auto &r : rows)
        QTest::addRow("%s on %s to %d", qPrintable(QKeySequence(r.key).toString()), r.focus, r.to)
            << r.key.toCombined() << r.focus << r.button << r.at << r.to;
}

void TestDesktop::keys()
{
    QFETCH(int, key);
    QFETCH(QString, button);
    QFETCH(int, at);
    QFETCH(int, to);
    const auto press = [key](QWidget *w) {
        QTest::keyClick(w, Qt::Key(key & ~Qt::ControlModifier), Qt::KeyboardModifiers(key & Qt::ControlModifier));
    };
    Window clicked;
    Window pressed;
    Window saving; // made last, so active
    for (Window *w : {&clicked, &pressed, &saving})
        w->form->H->setValue(at); // where the last tick left it
    saving.dialogs.whileSaving = [&] {
        const Shown during = saving.shown();
        QCOMPARE(during.enabled, 0);
        press(saving.form->Command1);
        QCOMPARE(saving.shown(), during);
    };
    saving.click(saving.form->Command7);

    pressed.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(pressed.form.get()));
    QFETCH(QString, focus);
    press(focused(pressed.form.get(), focus));
    if (button.isEmpty()) {
        clicked.form->H->setValue(to);
        if (to != at)
            clicked.form->H_Click();
    } else {
        QWidget *b = focused(clicked.form.get(), button);
        const QString named = QRegularExpression::escape(QKeySequence(key).toString());
        QVERIFY2(focus == button || b->toolTip().contains(QRegularExpression("[( ]" + named + "[,)]")),
                 qPrintable(b->toolTip()));
        clicked.click(b);
    }
    QCOMPARE(pressed.shown(), clicked.shown());
    QCOMPARE(pressed.player.commands, clicked.player.commands);
}

void TestDesktop::accessible()
{
    Window w;
    Form1 &f = *w.form;
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true); // as a screen reader would
    const auto previous = QAccessible::installUpdateHandler(listen);
    w.tick(30);
    f.pb->setByteMaximum(3'000'000'000LL);
    f.pb->setByteValue(10'000'000); // 0%: nothing to say
    f.pb->setByteValue(1'350'000'000LL);
    QAccessible::installUpdateHandler(previous);
    QCOMPARE(heard,
             (QStringList{"Position slider: 30", "Position:  0 : 0 : 30", "Clip progress: 45", "Clip progress: 45%"}));
    QCOMPARE(a11y(&f)->role(), QAccessible::Window); // a "frame", not a "filler"
    QAccessibleInterface *start = a11y(f.Label7);
    QCOMPARE(start->text(QAccessible::Name), "Start mark");
    QCOMPARE(start->textInterface()->text(0, start->textInterface()->characterCount()), " 0 : 0 : 10");
    QVERIFY(start->state().readOnly);
    QAccessibleValueInterface *bar = a11y(f.pb)->valueInterface();
    bar->setCurrentValue(10); // read-only
    QCOMPARE(bar->currentValue().toInt(), 45);
    QAccessibleInterface *link = a11y(f.Label1);
    QCOMPARE(link->role(), QAccessible::Link);
    for (const int key : {Qt::Key_Enter, Qt::Key_Space}) // the focused link takes Space from Play
        QTest::keyClick(focused(&f, link->text(QAccessible::Name)), Qt::Key(key));
    link->actionInterface()->doAction("Press");
    QCOMPARE(browsed, QList<QUrl>(3, QUrl("https://morvane.example/codecdownload.html")));
    QCOMPARE(w.player.commands, QStringList());
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
