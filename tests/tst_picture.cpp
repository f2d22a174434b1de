// The picture a user sees: the real window on an X display under a window manager, opened through Qt's own dialog.
#include "app/ui/Form1.h"
#include "app/ui/QtDialogs.h"
#include "support/Frames.h"
#include "support/ModalDialogs.h"
#include "support/ScriptedDialogs.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QVideoWidget>

using namespace morvane;

class PictureTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != "xcb")
            QSKIP("needs an X display with a window manager: run it through tests/support/on-display.sh");
    }
    void pictureFollowsThePosition()
    {
        const double origin = test::startOf("dvd.vob");
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
        const auto playOrPause = [&] { QTest::mouseClick(f.Command1, Qt::LeftButton); };
        const auto open = [&] {
            test::whenShown<QFileDialog>([](QFileDialog *dialog) {
                auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
                QApplication::setActiveWindow(dialog);
                edit->setFocus();
                QTest::keyClicks(edit, test::media("dvd.vob"), {}, 10);
                QTest::keyClick(edit, Qt::Key_Return);
            });
            QTest::mouseClick(f.Command4, Qt::LeftButton);
        };
        const auto stop = [&] { QTest::mouseClick(f.Command2, Qt::LeftButton); };
        const auto middle = [&] { QTest::mouseClick(f.H, Qt::LeftButton, {}, {f.H->width() / 2, f.H->height() / 2}); };
        test::followSteps({{"open", open, test::anywhere, true},
                           {"pause", playOrPause, test::anywhere, false},
                           {"play", playOrPause, test::anywhere, true},
                           {"stop", stop, 0, false},
                           {"slider click", middle, 5, false},
                           {"play from there", playOrPause, test::anywhere, true},
                           {"pause again", playOrPause, test::anywhere, false}},
                          *video->videoSink(), origin, player);
    }
};

QTEST_MAIN(PictureTest)
#include "tst_picture.moc"
