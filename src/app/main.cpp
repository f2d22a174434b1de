// Morvane: cuts a time range out of a DVD video object file.

#include "app/ui/Form1.h"
#include "app/ui/QtDialogs.h"
#include "app/web/WebEngineWebPanel.h"
#include "playback/media/QtMediaPlayer.h"

#include <QApplication>
#include <QVideoWidget>

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); // for the web panel
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    QApplication::setApplicationVersion(QStringLiteral(MORVANE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.morvane.Morvane"));

    // The window takes ownership of the video widget and the web view.
    auto *video = new QVideoWidget;
    morvane::QtMediaPlayer player(video);
    morvane::QtDialogs dialogs;
    morvane::WebEngineWebPanel web;
    auto *form = new morvane::Form1(player, dialogs, web, video);
    dialogs.setParent(form);
    QObject::connect(form, &morvane::Form1::unloaded, &app, &QCoreApplication::quit);
    form->show();
    const int status = app.exec();
    delete form;
    return status;
}
