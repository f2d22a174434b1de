// The picture a user sees: the real window on an X display under a window manager (ctest runs this program
// through support/on-display.sh), the file opened through Qt's own Open dialog, and the picture read from the
// frames that the video widget is given.
#include "app/ui/Form1.h"
#include "app/ui/QtDialogs.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/ModalDialogs.h"
#include "support/ScriptedDialogs.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <QtTest>

using namespace morvane;

namespace {
QString media(const QString &name) { return MORVANE_TEST_MEDIA "/" + name; }

// Second 0 of the named file, as the test media list it: the time of its first picture.
double startOf(const QString &name)
{
    QFile list(media("start-times.txt"));
    if (!list.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : list.readAll().split('\n'))
        if (line.startsWith(name.toUtf8() + ' '))
            return line.mid(name.size() + 1).toDouble();
    return -1;
}

// Types the name into the Open dialog's file name field once it is up, then Enter.
void typeIntoOpenDialog(const QString &name)
{
    test::whenShown<QFileDialog>([=](QFileDialog *dialog) {
        auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
        QApplication::setActiveWindow(dialog);
        edit->setFocus();
        QTest::keyClicks(edit, name, {}, 10);
        QTest::keyClick(edit, Qt::Key_Return);
    });
}
} // namespace

class PictureTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != "xcb")
            QSKIP("needs an X display with a window manager: run it through tests/support/on-display.sh");
    }
    // After each step, and a moment later: the picture against the position, at the second the step puts it
    // on; a running picture moves on, a paused one stands.
    void pictureFollowsThePosition()
    {
        const double origin = startOf("dvd.vob"), frame = 0.04, any = -1;
        QVERIFY(origin >= 0);
        auto *video = new QVideoWidget; // the window owns it
        QtMediaPlayer player(video);
        QtDialogs dialogs;
        test::ScriptedWebPanel web;
        Form1 f(player, dialogs, web, video);
        dialogs.setParent(&f);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        // A user clicks Open once the window is drawn, the video widget's graphics included.
        if (!QTest::qWaitFor([&] { return video->videoSink()->rhi() != nullptr; }, 3000))
            qInfo("the video widget has no graphics context on this display");
        QTest::qWait(500);
        const auto picture = [&] { return video->videoSink()->videoFrame().startTime() / 1e6 - origin; };
        const auto click = [&](QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); };
        const struct {
            const char *what;
            std::function<void()> act;
            double at;
            bool running;
        } steps[] = {
            {"open",
             [&] {
                 typeIntoOpenDialog(media("dvd.vob"));
                 click(f.Command4);
             },
             any, true},
            {"pause", [&] { click(f.Command1); }, any, false},
            {"play", [&] { click(f.Command1); }, any, true},
            {"stop", [&] { click(f.Command2); }, 0, false},
            {"slider click",
             [&] {
                 QTest::mouseClick(f.H, Qt::LeftButton, {}, {f.H->width() / 2, f.H->height() / 2});
             },
             5, false},
            {"play from there", [&] { click(f.Command1); }, any, true},
            {"pause again", [&] { click(f.Command1); }, any, false},
        };
        for (const auto &step : steps) {
            step.act();
            QTest::qWait(500);
            const double shown = picture(), at = player.currentPosition();
            QTest::qWait(400);
            const double later = picture(), laterAt = player.currentPosition();
            const QByteArray values = QString("%1: picture %2 s, position %3 s; then %4 s, %5 s")
                                          .arg(step.what)
                                          .arg(shown)
                                          .arg(at)
                                          .arg(later)
                                          .arg(laterAt)
                                          .toUtf8();
            QVERIFY2(qAbs(shown - at) <= 2 * frame && qAbs(later - laterAt) <= 2 * frame, values);
            QVERIFY2(step.at == any || qAbs(shown - step.at) <= frame / 2, values);
            QVERIFY2(step.running ? later - shown >= 0.2 : later == shown && laterAt == at, values);
        }
    }
};

QTEST_MAIN(PictureTest)
#include "tst_picture.moc"
