#include "files/engine/DvdDisc.h"

#include "files/engine/DvdPacks.h"
#include "files/engine/FileName.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <dirent.h>
#include <map>
#include <memory>
#include <sys/stat.h>

namespace morvane {

namespace {

bool isDirectory(const QByteArray &path)
{
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isFile(const QByteArray &path)
{
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode);
}

// The folder's entries, as bytes.
QByteArrayList entriesOf(const QByteArray &folder)
{
    QByteArrayList names;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir))
        names << QByteArray(entry->d_name);
    ::closedir(dir);
    return names;
}

QByteArray baseName(const QByteArray &path)
{
    const QByteArray trimmed = path.endsWith('/') && path.size() > 1 ? path.chopped(1) : path;
    return trimmed.mid(trimmed.lastIndexOf('/') + 1);
}

QByteArray parentOf(const QByteArray &path)
{
    const QByteArray trimmed = path.endsWith('/') && path.size() > 1 ? path.chopped(1) : path;
    const qsizetype slash = trimmed.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : trimmed.left(slash);
}

QByteArray joined(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// The entry of folder spelled name in any letter case; empty when none is.
QByteArray findEntry(const QByteArray &folder, const QByteArray &name)
{
    for (const QByteArray &entry : entriesOf(folder))
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return joined(folder, entry);
    return {};
}

bool hasSuffix(const QByteArray &name, const char *suffix) { return name.toUpper().endsWith(suffix); }

std::int64_t timeTicks(const dvd_time_t &time)
{
    auto bcd = [](std::uint8_t v) { return std::int64_t(v >> 4) * 10 + (v & 0x0F); };
    const std::int64_t seconds = bcd(time.hour) * 3600 + bcd(time.minute) * 60 + bcd(time.second);
    const std::int64_t frames = bcd(time.frame_u & 0x3F);
    // 11 in the top bits is 29.97 frames/s; 01 (and anything else) is 25.
    const std::int64_t ticksPerFrame = (time.frame_u >> 6) == 3 ? 3003 : 3600;
    return seconds * dvd::kTicksPerSecond + frames * ticksPerFrame;
}

std::string audioFormat(unsigned code)
{
    switch (code) {
    case 0:
        return "AC-3";
    case 2:
    case 3:
        return "MPEG";
    case 4:
        return "LPCM";
    case 6:
        return "DTS";
    default:
        return "unknown";
    }
}

// What libdvdread complained of last, to name the cause in a message.
struct Complaints {
    std::string last;
};

void logToComplaints(void *opaque, dvd_logger_level_t level, const char *format, va_list args)
{
    if (level > DVD_LOGGER_LEVEL_WARN)
        return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    static_cast<Complaints *>(opaque)->last = text;
}

struct ReaderCloser {
    void operator()(dvd_reader_t *dvd) const { DVDClose(dvd); }
};
struct IfoCloser {
    void operator()(ifo_handle_t *ifo) const { ifoClose(ifo); }
};
using Reader = std::unique_ptr<dvd_reader_t, ReaderCloser>;
using Ifo = std::unique_ptr<ifo_handle_t, IfoCloser>;

class DiscReader {
public:
    explicit DiscReader(const QByteArray &folder) : folder_(folder)
    {
        const dvd_logger_cb logger{logToComplaints};
        // libdvdread takes the folder that holds VIDEO_TS.
        dvd_.reset(DVDOpen2(&complaints_, &logger, parentOf(folder).constData()));
        if (!dvd_)
            fail("The DVD folder " + quotedName(folder) + " cannot be opened");
    }

    Disc read()
    {
        Disc disc;
        disc.folder = folder_;
        complaints_.last.clear();
        Ifo vmg(ifoOpen(dvd_.get(), 0));
        if (!vmg || !vmg->tt_srpt)
            fail("The table of titles " + quotedName(joined(folder_, "VIDEO_TS.IFO")) + " is missing or damaged");
        const tt_srpt_t &titles = *vmg->tt_srpt;
        complaints_.last.clear();
        for (int i = 0; i < titles.nr_of_srpts; ++i) {
            const title_info_t &info = titles.title[i];
            DiscTitleSet &set = titleSet(disc, info.title_set_nr);
            disc.titles.push_back(readTitle(i + 1, info, set));
        }
        if (disc.titles.empty())
            fail("The table of titles " + quotedName(joined(folder_, "VIDEO_TS.IFO")) + " lists no title");
        for (auto &[number, set] : sets_)
            disc.titleSets.push_back(std::move(set.info));
        return disc;
    }

private:
    struct OpenSet {
        Ifo ifo;
        DiscTitleSet info;
        std::int64_t sectors = 0;
    };

    // Names libdvdread's own complaint when it has just made one.
    [[noreturn]] void fail(const std::string &what) const
    {
        std::string cause = complaints_.last;
        while (!cause.empty() && (cause.back() == '.' || cause.back() == '\n'))
            cause.pop_back();
        throw DiscError(what + (cause.empty() ? "." : " (libdvdread: " + cause + ")."));
    }

    QByteArray ifoName(int set) const
    {
        char name[16];
        std::snprintf(name, sizeof name, "VTS_%02d_0.IFO", set);
        return joined(folder_, name);
    }

    DiscTitleSet &titleSet(Disc &, int number)
    {
        auto found = sets_.find(number);
        if (found != sets_.end())
            return found->second.info;
        OpenSet set;
        complaints_.last.clear();
        set.ifo.reset(number >= 1 && number <= 99 ? ifoOpen(dvd_.get(), number) : nullptr);
        if (!set.ifo || !set.ifo->vtsi_mat || !set.ifo->vts_pgcit || !set.ifo->vts_ptt_srpt)
            fail("The tables of title set " + std::to_string(number) + ", " + quotedName(ifoName(number))
                 + ", are missing or damaged");
        complaints_.last.clear();
        if (!set.ifo->vts_vobu_admap)
            fail(quotedName(ifoName(number)) + " has no VOBU address map");
        set.info.number = number;
        const vobu_admap_t &map = *set.ifo->vts_vobu_admap;
        const std::size_t entries = (map.last_byte + 1 - VOBU_ADMAP_SIZE) / 4;
        set.info.vobuStarts.assign(map.vobu_start_sectors, map.vobu_start_sectors + entries);
        std::sort(set.info.vobuStarts.begin(), set.info.vobuStarts.end());
        set.info.vobs = vobFiles(number);
        if (set.info.vobs.isEmpty()) {
            char first[16];
            std::snprintf(first, sizeof first, "VTS_%02d_1.VOB", number);
            fail("The video of title set " + std::to_string(number) + ", " + quotedName(joined(folder_, first))
                 + ", is missing");
        }
        std::int64_t bytes = 0;
        for (const QByteArray &vob : set.info.vobs) {
            struct stat info {};
            ::stat(vob.constData(), &info);
            bytes += info.st_size;
        }
        set.sectors = bytes / std::int64_t(dvd::kPackSize);
        return sets_.emplace(number, std::move(set)).first->second.info;
    }

    // VTS_nn_1.VOB up to the first number missing, in any letter case.
    QByteArrayList vobFiles(int set) const
    {
        QByteArrayList files;
        for (int part = 1; part <= 9; ++part) {
            char name[16];
            std::snprintf(name, sizeof name, "VTS_%02d_%d.VOB", set, part);
            const QByteArray found = findEntry(folder_, name);
            if (found.isEmpty() || !isFile(found))
                break;
            files << found;
        }
        return files;
    }

    DiscTitle readTitle(int number, const title_info_t &info, const DiscTitleSet &setInfo)
    {
        complaints_.last.clear(); // what follows is this program's own reading
        const OpenSet &set = sets_.at(setInfo.number);
        const ifo_handle_t &vts = *set.ifo;
        const std::string where = "Title " + std::to_string(number) + " in " + quotedName(ifoName(setInfo.number));
        DiscTitle title;
        title.number = number;
        title.titleSet = setInfo.number;
        title.angles = std::max<int>(1, info.nr_of_angles);
        const vts_ptt_srpt_t &ptts = *vts.vts_ptt_srpt;
        if (info.vts_ttn < 1 || info.vts_ttn > ptts.nr_of_srpts || ptts.title[info.vts_ttn - 1].nr_of_ptts < 1)
            fail(where + " has no chapters");
        const ttu_t &chapters = ptts.title[info.vts_ttn - 1];
        const int pgcNumber = chapters.ptt[0].pgcn;
        if (pgcNumber < 1 || pgcNumber > vts.vts_pgcit->nr_of_pgci_srp || !vts.vts_pgcit->pgci_srp[pgcNumber - 1].pgc)
            fail(where + " points at program chain " + std::to_string(pgcNumber) + ", which is not there");
        const pgc_t &pgc = *vts.vts_pgcit->pgci_srp[pgcNumber - 1].pgc;
        if (pgc.nr_of_cells == 0 || !pgc.cell_playback || !pgc.cell_position)
            fail(where + " has no cells");

        std::int64_t at = 0;
        for (int c = 0; c < pgc.nr_of_cells; ++c) {
            const cell_playback_t &play = pgc.cell_playback[c];
            DiscCell cell;
            cell.vobId = pgc.cell_position[c].vob_id_nr;
            cell.cellId = pgc.cell_position[c].cell_nr;
            cell.firstSector = play.first_sector;
            cell.lastVobuStart = play.last_vobu_start_sector;
            cell.lastSector = play.last_sector;
            cell.ticks = timeTicks(play.playback_time);
            cell.angleBlock = play.block_type == BLOCK_TYPE_ANGLE_BLOCK;
            cell.firstAngle = cell.angleBlock && play.block_mode == BLOCK_MODE_FIRST_CELL;
            cell.interleaved = play.interleaved;
            const std::string which = where + ", cell " + std::to_string(c + 1) + ",";
            if (cell.firstSector > cell.lastVobuStart || cell.lastVobuStart > cell.lastSector)
                fail(which + " has its sectors out of order");
            if (std::int64_t(cell.lastSector) >= set.sectors)
                fail(which + " ends at sector " + std::to_string(cell.lastSector) + ", past the end of its video ("
                     + std::to_string(set.sectors) + " sectors)");
            cell.startTicks = at;
            if (cell.played())
                at += cell.ticks;
            title.cells.push_back(cell);
        }
        title.durationTicks = at;

        for (int p = 0; p < chapters.nr_of_ptts; ++p) {
            const ptt_info_t &ptt = chapters.ptt[p];
            if (ptt.pgcn != pgcNumber) // chapters in other chains are not played as part of this one
                continue;
            if (ptt.pgn < 1 || ptt.pgn > pgc.nr_of_programs || !pgc.program_map)
                fail(where + " has chapter " + std::to_string(p + 1) + " at a program that is not there");
            const int entry = pgc.program_map[ptt.pgn - 1];
            if (entry < 1 || entry > pgc.nr_of_cells)
                fail(where + " has chapter " + std::to_string(p + 1) + " at a cell that is not there");
            title.chapters.push_back({title.cells[std::size_t(entry - 1)].startTicks, std::size_t(entry - 1)});
        }

        for (int a = 0; a < vts.vtsi_mat->nr_of_vts_audio_streams && a < 8; ++a) {
            if (!(pgc.audio_control[a] & 0x8000))
                continue;
            const audio_attr_t &attr = vts.vtsi_mat->vts_audio_attr[a];
            DiscAudio audio;
            if (attr.lang_type == 1 && std::isalpha(attr.lang_code >> 8) && std::isalpha(attr.lang_code & 0xFF)) {
                audio.language.push_back(char(attr.lang_code >> 8));
                audio.language.push_back(char(attr.lang_code & 0xFF));
            }
            audio.format = audioFormat(attr.audio_format);
            audio.channels = attr.channels + 1;
            title.audio.push_back(audio);
        }
        return title;
    }

    QByteArray folder_;
    Complaints complaints_;
    Reader dvd_;
    std::map<int, OpenSet> sets_;
};

} // namespace

bool DiscTitle::hasAngleBlocks() const
{
    return std::any_of(cells.begin(), cells.end(), [](const DiscCell &cell) { return cell.angleBlock; });
}

const DiscTitle &Disc::title(int number) const
{
    if (number < 1 || number > int(titles.size()))
        throw DiscError("The DVD in " + quotedName(folder) + " has no title " + std::to_string(number) + "; it has "
                        + std::to_string(titles.size()) + ".");
    return titles[std::size_t(number - 1)];
}

const DiscTitleSet &Disc::titleSet(int number) const
{
    for (const DiscTitleSet &set : titleSets)
        if (set.number == number)
            return set;
    throw DiscError("The DVD in " + quotedName(folder) + " has no title set " + std::to_string(number) + ".");
}

QByteArray discFolder(const QByteArray &path)
{
    if (isDirectory(path)) {
        if (baseName(path).compare("VIDEO_TS", Qt::CaseInsensitive) == 0)
            return path;
        const QByteArray inside = findEntry(path, "VIDEO_TS");
        if (!inside.isEmpty() && isDirectory(inside))
            return inside;
        return findEntry(path, "VIDEO_TS.IFO").isEmpty() ? QByteArray() : path;
    }
    const QByteArray name = baseName(path);
    if (isFile(path) && (hasSuffix(name, ".IFO") || hasSuffix(name, ".BUP") || hasSuffix(name, ".VOB")))
        return parentOf(path);
    return {};
}

Disc openDisc(const QByteArray &path)
{
    const QByteArray folder = discFolder(path);
    if (folder.isEmpty())
        throw DiscError(quotedName(path)
                        + " is not a DVD folder: it is neither a VIDEO_TS folder, nor holds one, "
                          "nor is a file in one.");
    if (findEntry(folder, "VIDEO_TS.IFO").isEmpty() && findEntry(folder, "VIDEO_TS.BUP").isEmpty())
        throw DiscError("The table of titles " + quotedName(joined(folder, "VIDEO_TS.IFO")) + " is missing.");
    // libdvdread looks for the tables in a folder of that name only.
    if (baseName(folder).compare("VIDEO_TS", Qt::CaseInsensitive) != 0)
        throw DiscError("The DVD tables in " + quotedName(folder) + " can be read only from a folder named VIDEO_TS.");
    return DiscReader(folder).read();
}

std::string ticksText(std::int64_t ticks)
{
    const std::int64_t hundredths = (ticks + 450) / 900;
    const std::int64_t seconds = hundredths / 100;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%02lld", (long long)(seconds / 3600),
                      (long long)(seconds / 60 % 60), (long long)(seconds % 60), (long long)(hundredths % 100));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", (long long)(seconds / 60), (long long)(seconds % 60),
                      (long long)(hundredths % 100));
    return text;
}

} // namespace morvane
