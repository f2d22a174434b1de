// morvane-cut: the window's cutting engine on the command line.
//
//   morvane-cut [--precise] [--duration SECONDS] --start START --end END [--force] SOURCE... TARGET
//   morvane-cut --title N [--precise] (--start START --end END | --chapters A[-B]) [--force] DVD TARGET
//   morvane-cut --list DVD
//
// Exit status: 0 when the clip is complete, 1 when the cut failed, 2 when the
// command was refused before any cut, 130 when interrupted.

#include "cli/DurationModule.h"
#include "files/engine/ClipCutter.h"
#include "files/engine/DvdDisc.h"
#include "files/engine/FileName.h"
#include "state/TimeText.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace morvane;

const char kUsage[] =
    "usage: morvane-cut [--precise] [--duration SECONDS] --start START --end END [--force] SOURCE... TARGET\n"
    "Copies the byte range of SOURCE between START and END (whole seconds) to TARGET,\n"
    "taking the byte rate as SOURCE's length over SECONDS. Without --duration the media\n"
    "player reads it from SOURCE. With --precise the clip runs from the DVD navigation\n"
    "pack at or before START to the one at or after END, and no duration is needed.\n"
    "Several SOURCEs (the VTS_xx_1.VOB .. parts of a DVD title) are read as one stream\n"
    "in the order given. --force replaces an existing TARGET, if it is a file.\n"
    "\n"
    "usage: morvane-cut --title N [--precise] (--start START --end END | --chapters A[-B]) [--force] DVD TARGET\n"
    "       morvane-cut --list DVD\n"
    "DVD is a folder that holds VIDEO_TS, the VIDEO_TS folder, or a file in it. --title cuts\n"
    "title N of its tables, the marks in title time; --chapters cuts chapters A to B (or A\n"
    "alone) whole, from the first VOBU of A to the end of B. --list prints one line per title.\n";

// A command line that asks for something this tool will not do.
class Refusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    std::optional<std::int32_t> duration;
    std::optional<std::int32_t> start;
    std::optional<std::int32_t> end;
    QByteArrayList sources; // the bytes given, never decoded
    QByteArray target;
    bool force = false;
    bool precise = false;
    bool help = false;
    bool list = false;
    std::optional<std::int32_t> title;
    std::optional<std::int32_t> firstChapter;
    std::optional<std::int32_t> lastChapter;
};

std::int32_t parseWhole(const std::string &name, const std::string &text, const std::string &wanted)
{
    const bool negative = !text.empty() && text[0] == '-';
    std::string digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        throw Refusal(name + " wants " + wanted + ", not " + quotedName(QByteArray::fromStdString(text)) + ".");
    if (negative)
        throw Refusal(name + " cannot be negative.");
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1)); // 007 is 7
    if (digits.size() > 10 || std::stoll(digits) > INT32_MAX)
        throw Refusal(name + " is too large.");
    return static_cast<std::int32_t>(std::stoll(digits));
}

std::int32_t parseSeconds(const std::string &name, const std::string &text)
{
    return parseWhole(name, text, "whole seconds");
}

// A title or chapter number, from 1.
std::int32_t parseNumber(const std::string &name, const std::string &text)
{
    const std::int32_t number = parseWhole(name, text, "a number from 1");
    if (number < 1)
        throw Refusal(name + " wants a number from 1, not 0.");
    return number;
}

// "A" or "A-B".
void parseChapters(const std::string &text, Options &options)
{
    const std::size_t dash = text.find('-', 1);
    options.firstChapter = parseNumber("--chapters", text.substr(0, dash));
    options.lastChapter =
        dash == std::string::npos ? *options.firstChapter : parseNumber("--chapters", text.substr(dash + 1));
    if (*options.lastChapter < *options.firstChapter)
        throw Refusal("--chapters wants the first chapter before the last, not "
                      + quotedName(QByteArray::fromStdString(text)) + ".");
}

// "--name value" or "--name=value"; returns false when arg is not --name.
bool takeText(const std::string &name, const std::string &arg, int &i, int argc, char **argv, std::string &value)
{
    if (arg == name) {
        if (i + 1 >= argc)
            throw Refusal(name + " needs a value.");
        value = argv[++i];
    } else if (arg.rfind(name + "=", 0) == 0) {
        value = arg.substr(name.size() + 1);
    } else {
        return false;
    }
    return true;
}

bool takeValue(const std::string &name, const std::string &arg, int &i, int argc, char **argv,
               std::optional<std::int32_t> &into)
{
    std::string value;
    if (!takeText(name, arg, i, argc, argv, value))
        return false;
    into = parseSeconds(name, value);
    return true;
}

// "--start=3" and "--start 3" are one option.
std::string optionName(const std::string &arg) { return arg.substr(0, arg.find('=')); }

Options parseOptions(int argc, char **argv)
{
    Options options;
    std::vector<QByteArray> paths;
    std::set<std::string> seen;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool isOption = !optionsEnded && arg.size() >= 2 && arg[0] == '-' && arg != "--";
        if (isOption && !seen.insert(optionName(arg == "-h" ? "--help" : arg)).second)
            throw Refusal(quotedName(QByteArray::fromStdString(optionName(arg))) + " is given twice.");
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            paths.push_back(QByteArray(argv[i]));
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--precise") {
            options.precise = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--list") {
            options.list = true;
        } else if (std::string value; takeText("--title", arg, i, argc, argv, value)) {
            options.title = parseNumber("--title", value);
        } else if (takeText("--chapters", arg, i, argc, argv, value)) {
            parseChapters(value, options);
        } else if (!takeValue("--duration", arg, i, argc, argv, options.duration)
                   && !takeValue("--start", arg, i, argc, argv, options.start)
                   && !takeValue("--end", arg, i, argc, argv, options.end)) {
            throw Refusal("unknown option " + quotedName(QByteArray::fromStdString(arg)) + ".");
        }
    }
    if (options.help)
        return options;
    if (options.list) {
        if (paths.size() != 1)
            throw Refusal("--list takes one DVD folder or file in it, got " + std::to_string(paths.size())
                          + " path(s).");
        options.sources = {paths.front()};
        return options;
    }
    if (options.firstChapter && !options.title)
        throw Refusal("--chapters needs --title.");
    if (options.firstChapter && (options.start || options.end))
        throw Refusal("give either --chapters or --start and --end, not both.");
    if (!options.firstChapter && (!options.start || !options.end))
        throw Refusal("--start and --end are required.");
    if (paths.size() < 2)
        throw Refusal("expected SOURCE and TARGET, got " + std::to_string(paths.size()) + " path(s).");
    options.sources = QByteArrayList(paths.begin(), paths.end() - 1);
    options.target = paths.back();
    if (options.title && options.sources.size() != 1)
        throw Refusal("--title takes one SOURCE, the DVD folder or a file in it.");
    if (options.firstChapter)
        return options;
    if (*options.start >= *options.end)
        throw Refusal("the start (" + std::to_string(*options.start) + ") must be less than the end ("
                      + std::to_string(*options.end) + ").");
    return options;
}

// D, in whole seconds: as given, or as the window's player reads it. The
// player takes names as text, so it is asked only about a name that text
// holds exactly.
std::int32_t durationSeconds(const Options &options)
{
    if (options.duration)
        return *options.duration;
    if (options.precise || options.title)
        return 0; // the precise cut reads its times from the stream, a title from its tables
    std::vector<std::string> paths;
    for (const QByteArray &source : options.sources) {
        if (!nameAsText(source))
            throw Refusal("cannot read the duration of " + quotedName(source)
                          + ": the media player cannot open a name that is not text; give it with --duration.");
        paths.push_back(source.toStdString());
    }
    const std::string named = quotedName(options.sources.front()) + (paths.size() > 1 ? " and the parts after it" : "");
    try {
        return RoundSeconds(readDurationThroughPlayer(paths));
    } catch (const std::exception &e) {
        throw Refusal("cannot read the duration of " + named + " (" + e.what() + "); give it with --duration.");
    }
}

// Refuses before any work what the cut would refuse: a target that is not a
// file, is the source, or exists without --force. The cut checks again.
void refuseTarget(const Options &options)
{
    try {
        if (inspectTarget(options.sources, options.target, options.title.value_or(0)) == TargetState::File
            && !options.force)
            throw Refusal(quotedName(options.target) + " already exists; add --force to replace it.");
    } catch (const TargetRefused &e) {
        throw Refusal(e.what());
    }
}

// A one-line bar on stderr, redrawn at most ten times a second.
class TerminalBar : public ProgressSink {
public:
    void setMaximum(std::int64_t maximum) override { maximum_ = std::max<std::int64_t>(maximum, 1); }
    void setValue(std::int64_t value) override
    {
        const auto now = std::chrono::steady_clock::now();
        if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100))
            return;
        lastDraw_ = now;
        draw(static_cast<int>(std::min<std::int64_t>(100, value * 100 / maximum_)));
    }
    void finish()
    {
        if (drawn_)
            draw(100);
    }
    // Leaves the bar's line before anything else is printed.
    void endLine()
    {
        if (drawn_)
            std::fputc('\n', stderr);
        drawn_ = false;
    }

private:
    void draw(int percent)
    {
        constexpr int width = 40;
        const int filled = percent * width / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", width - filled,
                     "", percent);
        std::fflush(stderr);
        drawn_ = true;
    }

    std::int64_t maximum_ = 1;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_;
};

// Passes progress on to the bar, if any, and notes when the copy began.
class Progress : public ProgressSink {
public:
    explicit Progress(TerminalBar *bar) : bar_(bar) {}
    void setMaximum(std::int64_t maximum) override
    {
        began = true;
        if (bar_)
            bar_->setMaximum(maximum);
    }
    void setValue(std::int64_t value) override
    {
        if (bar_)
            bar_->setValue(value);
    }
    bool began = false;

private:
    TerminalBar *bar_;
};

std::atomic<bool> interrupted{false};

void onSignal(int) { interrupted = true; }

// No SA_RESTART: a blocked copy returns early and the cut stops at its next
// step, dropping the unfinished clip.
void catchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

int fail(TerminalBar *bar, const std::string &message, int status)
{
    if (bar)
        bar->endLine();
    std::fprintf(stderr, "morvane-cut: %s\n", message.c_str());
    return status;
}

// "1  0:08.00  2 chapters  audio en AC-3 2ch, fr AC-3 6ch"
void listTitles(const QByteArray &path)
{
    const Disc disc = openDisc(path);
    for (const DiscTitle &title : disc.titles) {
        std::string audio;
        for (const DiscAudio &stream : title.audio)
            audio += (audio.empty() ? "" : ", ") + (stream.language.empty() ? "" : stream.language + " ")
                     + stream.format + " " + std::to_string(stream.channels) + "ch";
        std::printf("%d  %s  %zu chapter%s  %s\n", title.number, ticksText(title.durationTicks).c_str(),
                    title.chapters.size(), title.chapters.size() == 1 ? "" : "s",
                    audio.empty() ? "no audio" : ("audio " + audio).c_str());
    }
}

int run(int argc, char **argv, TerminalBar *bar)
{
    const Options options = parseOptions(argc, argv);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.list) {
        listTitles(options.sources.front());
        return 0;
    }
    refuseTarget(options);
    CutRequest request{options.sources,
                       options.target,
                       durationSeconds(options),
                       options.start.value_or(0),
                       options.end.value_or(0),
                       options.force ? Replace::Allowed : Replace::Never,
                       options.precise ? CutMethod::Precise : CutMethod::ByteRate};
    request.title = options.title.value_or(0);
    request.firstChapter = options.firstChapter.value_or(0);
    request.lastChapter = options.lastChapter.value_or(0);

    Progress progress(bar);
    ClipCutter cutter(progress, [&cutter] {
        if (interrupted)
            cutter.cancel();
    });
    catchInterrupts();
    CutResult clip;
    try {
        clip = cutter.cut(request);
    } catch (const TargetTaken &) {
        // Taken since the check above, but before the copy: still a refusal.
        if (progress.began)
            throw;
        throw Refusal(quotedName(options.target) + " already exists; add --force to replace it.");
    }
    if (bar) {
        bar->finish();
        bar->endLine();
    }
    if (options.precise || options.firstChapter)
        std::fprintf(stderr, "morvane-cut: the clip covers %.2f s to %.2f s, %lld bytes.\n", clip.startTime,
                     clip.endTime, static_cast<long long>(clip.length));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    TerminalBar terminalBar;
    TerminalBar *bar = ::isatty(STDERR_FILENO) ? &terminalBar : nullptr;
    try {
        return run(argc, argv, bar);
    } catch (const Refusal &e) {
        return fail(bar, e.what(), 2);
    } catch (const CutCancelled &) {
        return fail(bar, "interrupted; no clip was written.", 130);
    } catch (const CutError &e) {
        return fail(bar, e.what(), 1);
    } catch (const std::exception &e) {
        return fail(bar, e.what(), 1);
    }
}
