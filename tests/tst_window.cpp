// The window as it opens: layout, start-up state, the links and closing.

#include "app/ui/WebAddresses.h"
#include "support/WindowFixture.h"

#include <QDesktopServices>
#include <QSignalSpy>

using namespace morvane;
using namespace morvane::test;

// Catches what would go to the system's browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void geometry_data();
    void geometry();
    void fixedSizeAndCaption();
    void captionsFit();
    void startUpState();
    void tabOrder();
    void webPanelLoadsInfoPageOnce();
    void links_data();
    void links();
    void closing_data();
    void closing();
};

void TestWindow::geometry_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("pixels");
    QTest::addColumn<QString>("caption");
    // Twips / 15, relative to each control's container.
    QTest::newRow("WebBrowser1") << "WebBrowser1" << QRect(0, 520, 641, 89) << "";
    QTest::newRow("mp") << "mp" << QRect(11, 64, 620, 349) << "";
    QTest::newRow("Command5") << "Command5" << QRect(183, 12, 90, 22) << "Mark Start";
    QTest::newRow("Command6") << "Command6" << QRect(280, 12, 90, 22) << "Mark End";
    QTest::newRow("Command9") << "Command9" << QRect(378, 13, 102, 22) << "Play Selected";
    QTest::newRow("Frame1") << "Frame1" << QRect(124, 1, 397, 58) << "";
    QTest::newRow("Label7") << "Label7" << QRect(73, 41, 63, 12) << "";
    QTest::newRow("Label9") << "Label9" << QRect(169, 41, 61, 12) << "";
    QTest::newRow("Label3") << "Label3" << QRect(270, 41, 67, 12) << "";
    QTest::newRow("H") << "H" << QRect(7, 429, 628, 25) << "";
    QTest::newRow("Command3") << "Command3" << QRect(305, 463, 79, 22) << "Website";
    QTest::newRow("Command7") << "Command7" << QRect(233, 463, 67, 22) << "Save";
    QTest::newRow("Command4") << "Command4" << QRect(161, 463, 67, 22) << "Open";
    QTest::newRow("Command2") << "Command2" << QRect(88, 463, 67, 22) << "Stop";
    QTest::newRow("Command1") << "Command1" << QRect(15, 463, 67, 22) << "Play";
    QTest::newRow("pb") << "pb" << QRect(9, 494, 627, 26) << "";
    QTest::newRow("Label1") << "Label1" << QRect(394, 468, 184, 16) << "Unable to play? Get DVD codecs now";
    QTest::newRow("Label4") << "Label4" << QRect(544, 48, 87, 16) << "";
    // Marker lines: 2 pixels wide around x 240 and 9375 twips, y 6300 to 6405.
    QTest::newRow("Line1") << "Line1" << QRect(15, 420, 2, 7) << "";
    QTest::newRow("Line2") << "Line2" << QRect(624, 420, 2, 7) << "";
}

static QWidget *control(Form1 &f, const QString &name)
{
    const QHash<QString, QWidget *> all{
        {"WebBrowser1", f.WebBrowser1}, {"mp", f.mp}, {"Command5", f.Command5}, {"Command6", f.Command6},
        {"Command9", f.Command9}, {"Frame1", f.Frame1}, {"Label7", f.Label7}, {"Label9", f.Label9},
        {"Label3", f.Label3}, {"H", f.H}, {"Command3", f.Command3}, {"Command7", f.Command7},
        {"Command4", f.Command4}, {"Command2", f.Command2}, {"Command1", f.Command1}, {"pb", f.pb},
        {"Label1", f.Label1}, {"Label4", f.Label4}, {"Line1", f.Line1}, {"Line2", f.Line2}};
    return all.value(name);
}

void TestWindow::geometry()
{
    QFETCH(QString, control);
    QFETCH(QRect, pixels);
    QFETCH(QString, caption);
    WindowFixture w;
    QWidget *c = ::control(*w.form, control);
    QVERIFY(c);
    QCOMPARE(c->geometry(), pixels);
    QVERIFY(c->isVisible());
    QVERIFY(c->isEnabled());
    if (auto *b = qobject_cast<QAbstractButton *>(c))
        QCOMPARE(b->text(), caption);
    else if (auto *l = qobject_cast<QLabel *>(c))
        QCOMPARE(l->text(), caption); // the read-outs start blank
}

void TestWindow::fixedSizeAndCaption()
{
    WindowFixture w;
    QCOMPARE(w.form->size(), QSize(642, 604));
    QCOMPARE(w.form->minimumSize(), w.form->maximumSize());
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Morvane 1.0"));
    const QList<QSize> sizes = w.form->windowIcon().availableSizes();
    for (int s : {16, 24, 32, 48})
        QVERIFY2(sizes.contains(QSize(s, s)), qPrintable(QString::number(s)));
    // The three top buttons lie over the frame and must receive its clicks.
    QCOMPARE(w.form->childAt(w.form->Command5->geometry().center()), w.form->Command5);
    QCOMPARE(w.form->childAt(w.form->Command9->geometry().center()), w.form->Command9);
    QVERIFY(w.form->Label1->font().underline());
    QCOMPARE(w.form->Label1->palette().color(QPalette::WindowText), QColor(0, 0, 192));
    QCOMPARE(w.form->Label1->cursor().shape(), Qt::PointingHandCursor);
}

// The layout was drawn for a narrow sans font; a wider fallback would clip
// the link's text.
void TestWindow::captionsFit()
{
    WindowFixture w;
    Form1 &f = *w.form;
    for (QWidget *c : {static_cast<QWidget *>(f.Label1), static_cast<QWidget *>(f.Command9),
                       static_cast<QWidget *>(f.Command5), static_cast<QWidget *>(f.Command3)}) {
        const QString text = c->property("text").toString();
        QVERIFY2(c->fontMetrics().horizontalAdvance(text) <= c->width(), qPrintable(text));
    }
    QCOMPARE(f.Command1->font().pointSizeF(), 8.25);
}

void TestWindow::startUpState()
{
    WindowFixture w;
    const EditingState &s = w.form->state;
    QVERIFY(!s.fileOpen());
    QCOMPARE(s.StartSecond, 0);
    QCOMPARE(s.EndSecond, 0);
    QCOMPARE(s.MarkScale, 0);
    QCOMPARE(s.IsPlaying, False);
    QVERIFY(!s.selectionValid());
    QCOMPARE(w.form->H->minimum(), 0);
    QCOMPARE(w.form->H->maximum(), 10);
    QCOMPARE(w.form->pb->minimum(), 0);
    QCOMPARE(w.form->pb->maximum(), 100);
    QCOMPARE(w.form->pb->value(), 0);
    QVERIFY(!w.form->T->isActive());
    QCOMPARE(w.form->T->interval(), 1000);
    QCOMPARE(w.form->Line1->X1(), 240.f);
    QCOMPARE(w.form->Line2->X2(), 9375.f);
    QVERIFY(w.player.calls.isEmpty());
}

void TestWindow::tabOrder()
{
    WindowFixture w;
    Form1 &f = *w.form;
    const QList<QWidget *> expected{f.H, f.Command1, f.Command2, f.Command4, f.Command7, f.Command3,
                                    f.Command9, f.Command6, f.Command5, f.mp, f.WebBrowser1};
    QWidget *at = f.H;
    for (qsizetype i = 1; i < expected.size(); ++i) {
        do {
            at = at->nextInFocusChain();
        } while (!(at->focusPolicy() & Qt::TabFocus));
        QCOMPARE(at, expected[i]);
    }
    for (QWidget *none : {static_cast<QWidget *>(f.pb), static_cast<QWidget *>(f.Label1),
                          static_cast<QWidget *>(f.Label4), static_cast<QWidget *>(f.Frame1)})
        QVERIFY(!(none->focusPolicy() & Qt::TabFocus));
}

void TestWindow::webPanelLoadsInfoPageOnce()
{
    WindowFixture w;
    QCOMPARE(w.web.visited.size(), 1);
    const QUrl page = w.web.visited.first();
    QCOMPARE(page.path(), QStringLiteral("/info.php"));
    QCOMPARE(page.query(), QStringLiteral("n=morvane"));
    QCOMPARE(page.scheme(), QStringLiteral("https"));
    QVERIFY(!page.host().isEmpty());
}

void TestWindow::links_data()
{
    QTest::addColumn<bool>("website");
    QTest::addColumn<QString>("path");
    QTest::newRow("Website button") << true << "/";
    QTest::newRow("codec link") << false << "/codecdownload.html";
}

void TestWindow::links()
{
    QFETCH(bool, website);
    QFETCH(QString, path);
    UrlCatcher browser;
    WindowFixture w;
    QWidget *target = website ? static_cast<QWidget *>(w.form->Command3) : w.form->Label1;
    w.click(target);
    w.click(target); // can be clicked again
    QCOMPARE(browser.opened.size(), 2);
    QCOMPARE(browser.opened[0].path(), path);
    QCOMPARE(browser.opened[0].scheme(), QStringLiteral("https"));
    // Both pages live on the maker's site, the info page on another server.
    QCOMPARE(browser.opened[0].host(), web::makerSite().host());
    QVERIFY(web::makerSite().host() != web::infoServer().host());
    QVERIFY(w.dialogs.messages.isEmpty());
}

void TestWindow::closing_data()
{
    QTest::addColumn<bool>("withFile");
    QTest::newRow("no file") << false;
    QTest::newRow("playing a file") << true;
}

void TestWindow::closing()
{
    QFETCH(bool, withFile);
    WindowFixture w;
    if (withFile)
        w.open(QStringLiteral("/media/a.vob"));
    QCOMPARE(w.form->state.fileOpen(), withFile);
    w.player.clearCalls();
    QSignalSpy unloaded(w.form.get(), &Form1::unloaded);
    QVERIFY(w.form->close());
    QCOMPARE(unloaded.size(), 1);
    QVERIFY(w.form->isUnloaded());
    QVERIFY(!w.form->state.fileOpen());
    QCOMPARE(w.form->state.IsPlaying, False);
    QCOMPARE(w.player.commands(), withFile ? QStringList{"Close"} : QStringList{});
    QVERIFY(w.dialogs.messages.isEmpty() && w.dialogs.questions.isEmpty()); // no confirmation
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
