#include "app/ui/Form1.h"

#include "app/ui/Icon.h"
#include "app/ui/Twips.h"
#include "app/ui/WebAddresses.h"
#include "app/ui/WebPanel.h"
#include "files/engine/ClipCutter.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QEventLoop>

namespace morvane {

namespace {

QPushButton *button(QWidget *parent, const QString &caption, int left, int top, int width, int height)
{
    auto *b = new QPushButton(caption, parent);
    b->setGeometry(twipsRect(left, top, width, height));
    b->setAutoDefault(false);
    return b;
}

ReadOut *readOut(QWidget *parent, int left, int top, int width, int height)
{
    auto *l = new ReadOut(parent);
    l->setGeometry(twipsRect(left, top, width, height));
    l->setAlignment(Qt::AlignCenter);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(pal);
    return l;
}

} // namespace

Form1::Form1(MediaPlayer &player, Dialogs &dialogs, WebPanel &web, QWidget *video, QWidget *parent)
    : QWidget(parent), Cdlg(dialogs), player_(player), dialogs_(dialogs), web_(web)
{
    buildControls(video);
    addDesktopWays();
    Form_Initialize();
    Form_Load();
}

Form1::~Form1() = default;

void Form1::buildControls(QWidget *video)
{
    setWindowTitle(QStringLiteral("Morvane " MORVANE_VERSION));
    setWindowIcon(appIcon());
    setFixedSize(px(9630), px(9060));
    // Linux has no MS Sans Serif; Liberation Sans keeps its widths, so the
    // captions fit the controls they were sized for.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(8.25);
    setFont(font);

    // Created in the order the window stacks them: later ones draw on top.
    WebBrowser1 = web_.widget();
    WebBrowser1->setParent(this);
    WebBrowser1->setGeometry(twipsRect(0, 7800, 9615, 1335));
    WebBrowser1->setFocusPolicy(Qt::StrongFocus);

    mp = video ? video : new QWidget;
    mp->setParent(this);
    mp->setGeometry(twipsRect(165, 960, 9300, 5235));
    mp->setFocusPolicy(Qt::StrongFocus);
    if (!video) {
        mp->setAutoFillBackground(true);
        QPalette pal = mp->palette();
        pal.setColor(QPalette::Window, Qt::black);
        mp->setPalette(pal);
    }

    // The frame goes first so that the three buttons lying over it stay on top.
    Frame1 = new QFrame(this);
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setGeometry(twipsRect(1860, 15, 5955, 870));
    Label7 = readOut(Frame1, 1095, 615, 945, 180);
    Label9 = readOut(Frame1, 2535, 615, 915, 180);
    Label3 = readOut(Frame1, 4050, 615, 1005, 180);
    for (QLabel *l : {Label7, Label9, Label3}) {
        l->setAutoFillBackground(true);
        QPalette pal = l->palette();
        pal.setColor(QPalette::Window, pal.color(QPalette::Base));
        l->setPalette(pal);
    }

    Command5 = button(this, QStringLiteral("Mark Start"), 2745, 180, 1350, 330);
    Command6 = button(this, QStringLiteral("Mark End"), 4200, 180, 1350, 330);
    Command9 = button(this, QStringLiteral("Play Selected"), 5670, 195, 1530, 330);

    // In the free corner left of the mark buttons; unchecked at every start,
    // as the program keeps no settings.
    Check1 = new QCheckBox(QStringLiteral("Precise cut"), this);
    Check1->setGeometry(twipsRect(165, 300, 1575, 270));
    Check1->setToolTip(QStringLiteral("Cut at the DVD's own navigation points, so that the clip holds what you "
                                      "marked and starts on a whole picture, instead of at the file's average "
                                      "byte rate."));

    H = new SeekSlider(this);
    H->setGeometry(twipsRect(105, 6435, 9420, 375));
    H->setRange(0, 10);

    Command3 = button(this, QStringLiteral("Website"), 4575, 6945, 1185, 330);
    Command7 = button(this, QStringLiteral("Save"), 3495, 6945, 1005, 330);
    Command4 = button(this, QStringLiteral("Open"), 2415, 6945, 1005, 330);
    Command2 = button(this, QStringLiteral("Stop"), 1320, 6945, 1005, 330);
    Command1 = button(this, QStringLiteral("Play"), 225, 6945, 1005, 330);

    T = new QTimer(this);
    T->setInterval(1000);

    pb = new ClipProgressBar(this);
    pb->setGeometry(twipsRect(135, 7410, 9405, 390));

    Label1 = new LinkLabel(QStringLiteral("Unable to play? Get DVD codecs now"), this);
    Label1->setGeometry(twipsRect(5910, 7020, 2760, 240));
    Label1->setCursor(Qt::PointingHandCursor);
    QPalette linkPal = Label1->palette();
    linkPal.setColor(QPalette::WindowText, QColor(0, 0, 192));
    Label1->setPalette(linkPal);

    // Under the marker lines, which are created after it and so stay on top.
    Ticks = new ChapterTicks(6345, 6435, this);
    Line2 = new MarkerLine(9375, 6300, 6405, this);
    Label4 = readOut(this, 8160, 720, 1305, 240);
    Line1 = new MarkerLine(240, 6300, 6405, this);

    // Labels and frames take no focus, except the link, which the keyboard
    // can reach and activate; the rest follow the window's tab order.
    const QList<QWidget *> tabOrder{H,        Command1, Command2, Command4, Command7, Command3,   Command9,
                                    Command6, Command5, Check1,   mp,       Label1,   WebBrowser1};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    H->setFocus(); // where the tab order starts
    pb->setFocusPolicy(Qt::NoFocus);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &Form1::Command7_Click);
    connect(Command9, &QPushButton::clicked, this, &Form1::Command9_Click);
    connect(Label1, &LinkLabel::clicked, this, &Form1::Label1_Click);
    connect(T, &QTimer::timeout, this, &Form1::T_Timer);
    connect(H, &SeekSlider::userClicked, this, &Form1::H_Click);
    connect(H, &SeekSlider::mouseDown, this, &Form1::H_MouseDown);
    connect(H, &SeekSlider::mouseUp, this, &Form1::H_MouseUp);
}

void Form1::Form_Initialize()
{
    QFont linkFont = Label1->font();
    linkFont.setUnderline(true);
    Label1->setFont(linkFont);

    state.SourceFile = QString();
    state.SourceParts = QStringList();
    state.EndSecond = 0;
    state.StartSecond = 0;
    state.MarkScale = 0;
    state.IsPlaying = False;
}

void Form1::Form_Load() { web_.navigate(web::infoPage()); }

void Form1::closeEvent(QCloseEvent *event)
{
    if (!unloaded_)
        Form_Unload();
    event->accept();
}

void Form1::Form_Unload()
{
    unloaded_ = true;
    // A cut in progress is abandoned: the engine leaves no partial clip.
    if (activeCut_)
        activeCut_->cancel();
    T->stop();
    try {
        mp_myclose();
    } catch (const std::exception &e) {
        // The program is ending; a player that fails to close changes nothing.
        endQuietly("Form_Unload", e);
    }
    emit unloaded();
}

void Form1::Command3_Click() { openInBrowser(web::homePage()); }

void Form1::Label1_Click() { openInBrowser(web::codecPage()); }

void Form1::openInBrowser(const QUrl &address)
{
    if (!QDesktopServices::openUrl(address))
        dialogs_.message(QStringLiteral("Cannot open %1 in a web browser.").arg(address.toString()));
}

void Form1::setEditingEnabled(bool enabled)
{
    for (QWidget *w :
         {static_cast<QWidget *>(Command1), static_cast<QWidget *>(Command2), static_cast<QWidget *>(Command4),
          static_cast<QWidget *>(Command5), static_cast<QWidget *>(Command6), static_cast<QWidget *>(Command7),
          static_cast<QWidget *>(Command9), static_cast<QWidget *>(H), static_cast<QWidget *>(Check1)})
        w->setEnabled(enabled);
}

void Form1::endQuietly(const char *handler, const std::exception &error) const
{
    qWarning("%s ended: %s", handler, error.what());
}

void Form1::letEventsRunFor(int ms)
{
    if (unloaded_)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    const auto connection = connect(this, &Form1::unloaded, &loop, &QEventLoop::quit);
    loop.exec();
    disconnect(connection);
}

} // namespace morvane
