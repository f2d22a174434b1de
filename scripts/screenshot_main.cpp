// Opens a VOB in the real window, lets it play, and saves what the screen
// shows:  morvane-screenshot VOB OUT.png  (run under xvfb-run).

#include "app/ui/Form1.h"
#include "app/web/WebEngineWebPanel.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QVideoWidget>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: morvane-screenshot VOB OUT.png\n");
        return 2;
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const QString vob = QString::fromLocal8Bit(argv[1]);

    auto *video = new QVideoWidget;
    morvane::QtMediaPlayer player(video);
    morvane::test::ScriptedDialogs dialogs;
    morvane::WebEngineWebPanel web;
    auto *form = new morvane::Form1(player, dialogs, web, video);
    form->show();
    QTest::qWait(500);
    dialogs.openAnswers << vob;
    form->Command4->click();
    QTest::qWait(2500);
    form->Command5->click();
    QTest::qWait(2200);
    form->Command6->click();
    QTest::qWait(300);

    const QPixmap shot = form->screen()->grabWindow(0).copy(form->frameGeometry());
    const bool saved = shot.save(QString::fromLocal8Bit(argv[2]));
    delete form;
    if (!saved) {
        std::fprintf(stderr, "morvane-screenshot: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
