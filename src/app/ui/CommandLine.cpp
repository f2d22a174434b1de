#include "app/ui/CommandLine.h"

namespace morvane {

CommandLine CommandLine::parse(const QList<QByteArray> &arguments)
{
    CommandLine line;
    bool help = false, version = false, optionsEnded = false;
    for (const QByteArray &a : arguments) {
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (a == "--help" || a == "-h")) {
            help = true;
        } else if (!optionsEnded && a == "--version") {
            version = true;
        } else if (!optionsEnded && a.startsWith('-') && a != "-") {
            if (line.error.isEmpty())
                line.error = QStringLiteral("unknown option '%1'").arg(QString::fromLocal8Bit(a));
        } else if (line.file) {
            if (line.error.isEmpty())
                line.error = QStringLiteral("one FILE at a time, not also '%1'").arg(QString::fromLocal8Bit(a));
        } else {
            line.file = a;
        }
    }
    if (help)
        line.action = Action::Help;
    else if (version)
        line.action = Action::Version;
    else if (!line.error.isEmpty())
        line.action = Action::Refuse;
    return line;
}

QList<QByteArray> CommandLine::arguments(int argc, const char *const *argv)
{
    QList<QByteArray> list;
    for (int i = 1; i < argc; ++i)
        list << QByteArray(argv[i]);
    return list;
}

QString CommandLine::help()
{
    return QStringLiteral("Usage: morvane [FILE]\n"
                          "Cut a time range out of a DVD video file (.vob) and save it as a new file.\n"
                          "\n"
                          "Opens the window; given FILE, opens it as Open would and starts playing it.\n"
                          "FILE may also be a DVD folder, whose titles then open as from one of its files.\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help     show this help and exit\n"
                          "      --version  show the version and exit\n"
                          "  --             take the next argument as FILE even if it starts with '-'\n"
                          "\n"
                          "Keys in the window: Space play/pause, Home stop, Ctrl+O open, Ctrl+S save,\n"
                          "I or [ mark start, O or ] mark end, P play selected, Left/Right 5 s back/forward,\n"
                          "Page Down/Page Up next/previous chapter of a DVD title.\n"
                          "\n"
                          "The command-line cutter is morvane-cut(1); see morvane(1) for more.\n");
}

QString CommandLine::version() { return QStringLiteral("morvane " MORVANE_VERSION "\n"); }

} // namespace morvane
