// The ways in that a desktop user expects: a file named on the command line
// or dropped on the window, the keyboard, and what assistive tools see.

#include "app/ui/Form1.h"
#include "files/engine/DvdDisc.h"
#include "files/engine/FileName.h"
#include "selection/MarkerTrack.h"
#include "state/TimeText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>
#include <QShortcut>
#include <QSysInfo>
#include <algorithm>
#include <sys/stat.h>

namespace morvane {

namespace {

// A plain top-level widget tells assistive tools it is a client area, a
// "filler" on the AT-SPI bus; as a Window it is the application's "frame".
QAccessibleInterface *windowAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String(Form1::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

// A DVD's folder opens as its titles; anything else given must be a file.
bool isDiscDirectory(const QByteArray &name)
{
    struct stat status {};
    return ::stat(name.constData(), &status) == 0 && S_ISDIR(status.st_mode) && !discFolder(name).isEmpty();
}

bool namesThisMachine(const QString &host)
{
    return host.isEmpty() || host == QLatin1String("localhost") || host == QSysInfo::machineHostName();
}

} // namespace

void Form1::addDesktopWays()
{
    static const bool installed = (QAccessible::installFactory(windowAccessible), true);
    Q_UNUSED(installed);

    // Each key clicks its button, so it does what the click does and nothing
    // while the button is disabled. The keys are window-wide, except where
    // the focused control uses the key itself (takesKey).
    const struct {
        QPushButton *button;
        QList<QKeySequence> keys;
        QString what, named;
    } commands[] = {
        {Command1,
         {Qt::Key_Space},
         QStringLiteral("Play or pause"),
         QStringLiteral("Space, unless a button, the check box, the link or the information panel has the focus")},
        {Command2,
         {Qt::Key_Home},
         QStringLiteral("Stop and go back to the beginning"),
         QStringLiteral("Home, outside the information panel")},
        {Command4, {Qt::CTRL | Qt::Key_O}, QStringLiteral("Open a VOB file"), QStringLiteral("Ctrl+O")},
        {Command7, {Qt::CTRL | Qt::Key_S}, QStringLiteral("Save the marked range as a clip"), QStringLiteral("Ctrl+S")},
        {Command5, {Qt::Key_I, Qt::Key_BracketLeft}, QStringLiteral("Mark the start here"), QStringLiteral("I or [")},
        {Command6, {Qt::Key_O, Qt::Key_BracketRight}, QStringLiteral("Mark the end here"), QStringLiteral("O or ]")},
        {Command9, {Qt::Key_P}, QStringLiteral("Play the marked range"), QStringLiteral("P")},
    };
    for (const auto &c : commands) {
        addShortcut(c.keys, c.button);
        c.button->setToolTip(QStringLiteral("%1 (%2)").arg(c.what, c.named));
        c.button->setAccessibleDescription(c.button->toolTip());
    }
    Command3->setToolTip(QStringLiteral("Open the Morvane website in your web browser"));
    Label1->setToolTip(QStringLiteral("Open the codec download page in your web browser"));
    for (const auto &[key, seconds] : {std::pair{Qt::Key_Left, -5}, std::pair{Qt::Key_Right, 5}}) {
        auto *s = new QShortcut(QKeySequence(key), this);
        connect(s, &QShortcut::activated, this, [this, seconds = seconds] { seekBy(seconds); });
    }
    for (const auto &[key, direction] : {std::pair{Qt::Key_PageDown, 1}, std::pair{Qt::Key_PageUp, -1}}) {
        auto *s = new QShortcut(QKeySequence(key), this);
        connect(s, &QShortcut::activated, this, [this, direction = direction] { jumpChapter(direction); });
    }
    H->setToolTip(QStringLiteral(
        "Position (Left and Right: 5 seconds back and forward; "
        "Page Down and Page Up: next and previous chapter of a DVD title; outside the information panel)"));

    // Command1 keeps its caption as its name: "Play" or "Pause" is its state.
    Label7->setAccessibleName(QStringLiteral("Start mark"));
    Label9->setAccessibleName(QStringLiteral("End mark"));
    Label3->setAccessibleName(QStringLiteral("Selection length"));
    Label4->setAccessibleName(QStringLiteral("Position"));
    H->setAccessibleName(QStringLiteral("Position slider"));
    pb->setAccessibleName(QStringLiteral("Clip progress"));
    mp->setAccessibleName(QStringLiteral("Video"));
    WebBrowser1->setAccessibleName(QStringLiteral("Information"));
    H->setAccessibleDescription(H->toolTip());
    Label1->setAccessibleDescription(Label1->toolTip());

    // Drops land on whichever control is under the pointer, and the web
    // panel would take a file itself; the window sees them all first.
    setAcceptDrops(true);
    qApp->installEventFilter(this);
}

void Form1::addShortcut(const QList<QKeySequence> &keys, QPushButton *button)
{
    for (const QKeySequence &key : keys) {
        auto *s = new QShortcut(key, this);
        s->setAutoRepeat(false); // a held key is one click
        connect(s, &QShortcut::activated, button, &QAbstractButton::click);
    }
}

void Form1::seekBy(int seconds)
{
    // The path of the slider's own arrow keys: a disabled slider refuses,
    // and a thumb already at its end seeks nowhere.
    if (!H->isEnabled())
        return;
    const int before = H->value();
    H->setValue(int(std::clamp<qint64>(qint64(before) + seconds, H->minimum(), H->maximum())));
    if (H->value() != before)
        H_Click();
}

bool Form1::takesKey(const QWidget *focus, const QKeyEvent *key) const
{
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || !focus)
        return false;
    // The page scrolls with these as in a browser.
    const bool inPage = focus == WebBrowser1 || WebBrowser1->isAncestorOf(focus);
    switch (key->key()) {
    case Qt::Key_Space: // presses a button or the link, ticks the check box
        return inPage || qobject_cast<const QAbstractButton *>(focus) || qobject_cast<const LinkLabel *>(focus);
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        return inPage;
    default:
        return false;
    }
}

void Form1::jumpChapter(int direction)
{
    // As a slider click on the chapter's start: a disabled slider refuses.
    if (!H->isEnabled() || state.ChapterSeconds.isEmpty())
        return;
    try {
        // The player may stand a frame or two off the start a jump sent it
        // to: Page Down looks past that. Page Up goes back to the start of
        // the chapter the position is in or, less than a second into it, to
        // the one before.
        const double position = player_.currentPosition();
        const QList<double> &starts = state.ChapterSeconds;
        double target = -1;
        if (direction > 0) {
            const auto next = std::upper_bound(starts.cbegin(), starts.cend(), position + 0.1);
            if (next == starts.cend())
                return;
            target = *next;
        } else {
            const auto here = std::lower_bound(starts.cbegin(), starts.cend(), position - 1.0);
            if (here == starts.cbegin())
                return;
            target = *std::prev(here);
        }
        H->setValue(RoundSeconds(target));
        player_.seek(target);
        Label4->setText(FormatHms(H->value()));
    } catch (const std::exception &e) {
        endQuietly("Chapter", e);
    }
}

void Form1::showWhatPlays()
{
    // The caption stays as it is; assistive tools hear which title plays.
    if (state.Title > 0) {
        mp->setAccessibleDescription(QStringLiteral("Title %1 of %2,%3")
                                         .arg(state.Title)
                                         .arg(state.TitleCount)
                                         .arg(FormatHms(RoundSeconds(player_.duration()))));
    } else {
        mp->setAccessibleDescription(QString());
    }
    QList<double> ticks;
    if (H->maximum() > 0)
        for (const double start : state.ChapterSeconds)
            ticks << StartLineOffset + start * TrackWidth / H->maximum();
    Ticks->setTicks(ticks);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    auto *target = qobject_cast<QWidget *>(watched);
    if (!target || (target != this && !isAncestorOf(target)))
        return QWidget::eventFilter(watched, event);
    if (type == QEvent::ShortcutOverride && takesKey(QApplication::focusWidget(), static_cast<QKeyEvent *>(event))) {
        event->accept(); // the key goes to the focused control, not to a shortcut
        return true;
    }
    if (auto *button = qobject_cast<QAbstractButton *>(target); button && type == QEvent::KeyPress) {
        // Qt's buttons take Enter only as a dialog's default button.
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (!key->isAutoRepeat())
                button->click();
            return true;
        }
    }
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QWidget::eventFilter(watched, event);

    auto *drop = static_cast<QDropEvent *>(event);
    // While a save runs or a file loads, Open is disabled and so are drops.
    if (!drop->mimeData()->hasUrls() || !Command4->isEnabled()) {
        drop->ignore();
        return true;
    }
    drop->acceptProposedAction();
    if (type == QEvent::Drop) {
        // Taken once the drop is over: the other program waits for its end,
        // and opening runs window events while the player loads.
        QMetaObject::invokeMethod(
            this, [this, urls = drop->mimeData()->urls()] { takeDrop(urls); }, Qt::QueuedConnection);
    }
    return true;
}

void Form1::takeDrop(const QList<QUrl> &urls)
{
    if (urls.size() != 1) {
        dialogs_.message(QStringLiteral("Drop one file at a time: Morvane works on one source file."));
        return;
    }
    const QUrl &url = urls.first();
    if (!url.isLocalFile() || !namesThisMachine(url.host())) {
        dialogs_.message(
            QStringLiteral("Only a file on this computer can be opened, not \"%1\".").arg(url.toDisplayString()));
        return;
    }
    // The path's bytes as the other program sent them: QUrl's decoded text
    // would have replaced any that are not UTF-8.
    openGivenFile(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

void Form1::openGivenFile(const QByteArray &localName)
{
    if (unloaded_ || !Command4->isEnabled())
        return; // as a click on the disabled Open button
    const std::optional<QString> path = nameAsText(localName);
    if (!path) {
        dialogs_.message(QStringLiteral("Cannot open \"%1\".\nIts name is not valid UTF-8, so Morvane cannot "
                                        "pass it on unchanged. Rename the file and try again.")
                             .arg(QFile::decodeName(localName)));
        return;
    }
    try {
        if (!isDiscDirectory(localName))
            requireReadableFile(localName);
    } catch (const UnreadableFile &e) {
        dialogs_.message(QStringLiteral("Cannot open \"%1\".\n%2").arg(*path, QString::fromUtf8(e.what())));
        return;
    }
    try {
        stopForOpen();
        openSourceFile(*path);
    } catch (const std::exception &e) {
        // As after the dialog: what was done stays done.
        endQuietly("Open", e);
    }
}

} // namespace morvane
