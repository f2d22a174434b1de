// Morvane: cuts a time range out of a DVD video object file.

#include "app/ui/CommandLine.h"
#include "app/ui/Form1.h"
#include "app/ui/QtDialogs.h"
#include "app/web/WebEngineWebPanel.h"
#include "playback/media/QtMediaPlayer.h"

#include <QApplication>
#include <QTimer>
#include <QVideoWidget>
#include <cstdio>
#include <cstring>
#include <vector>

using morvane::CommandLine;

int main(int argc, char **argv)
{
    // --help and --version answer before the toolkit looks for a display.
    const CommandLine early = CommandLine::parse(CommandLine::arguments(argc, argv));
    if (early.action == CommandLine::Action::Help || early.action == CommandLine::Action::Version) {
        const QString text = early.action == CommandLine::Action::Help ? CommandLine::help() : CommandLine::version();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    // Qt takes its own options (-style, -reverse...) from anywhere on the
    // line, even after "--"; it is shown only what comes before.
    int qtArgc = argc;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            qtArgc = i;
            break;
        }
    }
    std::vector<char *> qtArgv(argv, argv + qtArgc);
    qtArgv.push_back(nullptr);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); // for the web panel
    QApplication app(qtArgc, qtArgv.data());
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    QApplication::setApplicationVersion(QStringLiteral(MORVANE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.morvane.Morvane"));

    // Read again without the toolkit's own options, which QApplication took.
    const CommandLine line = CommandLine::parse(CommandLine::arguments(qtArgc, qtArgv.data())
                                                + CommandLine::arguments(argc - qtArgc + 1, argv + qtArgc - 1));
    if (line.action == CommandLine::Action::Refuse) {
        std::fprintf(stderr, "morvane: %s\nTry 'morvane --help'.\n", line.error.toLocal8Bit().constData());
        return 2;
    }

    // The window takes ownership of the video widget and the web view.
    auto *video = new QVideoWidget;
    morvane::QtMediaPlayer player(video);
    morvane::QtDialogs dialogs;
    morvane::WebEngineWebPanel web;
    auto *form = new morvane::Form1(player, dialogs, web, video);
    dialogs.setParent(form);
    QObject::connect(form, &morvane::Form1::unloaded, &app, &QCoreApplication::quit);
    form->show();
    if (line.file) {
        // From inside the event loop, so that closing the window while the
        // file loads ends the program.
        QTimer::singleShot(0, form, [form, file = *line.file] { form->openGivenFile(file); });
    }
    const int status = app.exec();
    delete form;
    return status;
}
