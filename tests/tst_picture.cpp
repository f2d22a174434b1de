// The real window under a window manager, opened via Qt's dialog.
#include "app/ui/Form1.h"
#include "app/ui/QtDialogs.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/Files.h"
#include "support/ModalDialogs.h"
#include "support/ScriptedDialogs.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <QtTest>

using namespace morvane;

class PictureTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    // Within two frames of the position, after each step and later; moving while running.
    void pictureFollowsThePosition();
};

void PictureTest::initTestCase()
{
    if (QGuiApplication::platformName() != "xcb")
        QSKIP("needs an X display with a window manager: run it through tests/support/on-display.sh");
}

void PictureTest::pictureFollowsThePosition()
{
    double origin = -1; // its first picture, make-test-media's second 0
    for (const QByteArray &line : test::readFile(test::media("start-times.txt")).split('\n'))
        if (line.startsWith("dvd.vob "))
            origin = line.split(' ').value(1).toDouble();
    QVERIFY(origin >= 0);
    auto *video = new QVideoWidget; // the window owns it
    QtMediaPlayer player(video);
    QtDialogs dialogs;
    test::ScriptedWebPanel web;
    Form1 f(player, dialogs, web, video);
    dialogs.setParent(&f);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    // Open clicked once drawn, video widget included.
    if (!QTest::qWaitFor([&] { return video->videoSink()->rhi() != nullptr; }, 3000))
        qInfo("the video widget has no graphics context on this display");
    QTest::qWait(500);
    test::whenShown<QFileDialog>([](QFileDialog *dialog) {
        auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
        QApplication::setActiveWindow(dialog);
        edit->setFocus();
        QTest::keyClicks(edit, test::media("dvd.vob"), {}, 10);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    QWidget *const play = f.Command1;
    const double anywhere = -1;
    const struct {
        const char *what;
        QWidget *clicked;
        double at; // picture and position after it, or anywhere
        bool running;
        int quarters = 2; // across the clicked control
    } steps[] = {{"open", f.Command4, anywhere, true},
                 {"pause", play, anywhere, false},
                 {"play", play, anywhere, true},
                 {"stop", f.Command2, 0, false},
                 {"play after Stop", play, anywhere, true},
                 {"pause again", play, anywhere, false},
                 {"slider click", f.H, 5, false},
                 {"play from there", play, anywhere, true},
                 {"slider click back while playing", f.H, anywhere, true, 1},
                 {"pause at last", play, anywhere, false}};
    const double frame = 0.04;
    const auto picture = [&] { return video->videoSink()->videoFrame().startTime() / 1e6 - origin; };
    for (const auto &step : steps) {
        QTest::mouseClick(step.clicked, Qt::LeftButton, {},
                          {step.clicked->width() * step.quarters / 4, step.clicked->height() / 2});
        QTest::qWait(500);
        const double shown = picture();
        const double at = player.currentPosition();
        QTest::qWait(400);
        const double later = picture();
        const double laterAt = player.currentPosition();
        const QByteArray values =
            QString::asprintf("%s: picture %g s at %g s, then %g s at %g s", step.what, shown, at, later, laterAt)
                .toUtf8();
        QVERIFY2(qAbs(shown - at) <= 2 * frame && qAbs(later - laterAt) <= 2 * frame, values);
        QVERIFY2(step.at == anywhere || (qAbs(shown - step.at) <= frame / 2 && at == step.at), values);
        QVERIFY2(step.running ? later - shown >= 0.2 : later == shown && laterAt == at, values);
    }
}

QTEST_MAIN(PictureTest)
#include "tst_picture.moc"
