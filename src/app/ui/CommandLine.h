#pragma once
// The command line of morvane: [--help | --version | [--] FILE].

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace morvane {

struct CommandLine {
    enum class Action { Run, Help, Version, Refuse };
    Action action = Action::Run;
    std::optional<QByteArray> file; // the file system's bytes, exactly as given
    QString error;                  // why the line was refused

    // arguments: argv without the program name. --help and --version win
    // over anything else on the line, so that they answer even beside
    // options that only the toolkit knows.
    static CommandLine parse(const QList<QByteArray> &arguments);
    static QList<QByteArray> arguments(int argc, const char *const *argv);
    static QString help();
    static QString version();
};

} // namespace morvane
