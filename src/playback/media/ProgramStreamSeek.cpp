#include "playback/media/ProgramStreamSeek.h"

#include <gst/gst.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

namespace morvane {

namespace {

// Covers the mux delay of DVD streams (at most about one second) plus their
// longest group of pictures (0.6 s); what is read in excess costs only the
// decoding of the pictures before the target.
constexpr GstClockTime ReadAhead = 3 * GST_SECOND;

struct DemuxerState {
    std::atomic<GstClockTime> clipStart{GST_CLOCK_TIME_NONE}; // where output starts after the last seek
    std::atomic<bool> startTold{false};
};

GQuark stateQuark()
{
    static const GQuark quark = g_quark_from_static_string("morvane-demuxer-state");
    return quark;
}

DemuxerState &stateOf(gpointer demuxer)
{
    return *static_cast<DemuxerState *>(g_object_get_qdata(G_OBJECT(demuxer), stateQuark()));
}

struct Start {
    std::uint64_t serial;
    GstClockTime time;
};
std::mutex startsLock;
std::map<std::string, Start> starts; // by file name
std::uint64_t lastSerial = 0;

// The file the demuxer reads, as the source upstream names it.
std::string sourceFile(GstElement *demuxer)
{
    std::string name;
    GstPad *sink = gst_element_get_static_pad(demuxer, "sink");
    GstQuery *query = gst_query_new_uri();
    gchar *uri = nullptr;
    if (sink && gst_pad_peer_query(sink, query))
        gst_query_parse_uri(query, &uri);
    // A split title's source names its pattern with a scheme of its own.
    if (uri && g_str_has_prefix(uri, "splitfile://")) {
        gchar *plain = g_strconcat("file://", uri + std::strlen("splitfile://"), nullptr);
        g_free(uri);
        uri = plain;
    }
    if (gchar *file = uri ? g_filename_from_uri(uri, nullptr, nullptr) : nullptr) {
        name = file;
        g_free(file);
    }
    g_free(uri);
    gst_query_unref(query);
    if (sink)
        gst_object_unref(sink);
    return name;
}

// The demuxer's first segment starts at the stream's first timestamp, which
// the player reads as second 0; the back end's own position may not say so
// until the first picture has been shown.
void tellStart(GstElement *demuxer, const GstSegment &segment)
{
    if (stateOf(demuxer).startTold.exchange(true))
        return;
    const std::string file = sourceFile(demuxer);
    if (file.empty())
        return;
    // In stream time, which is what positions are read in.
    const guint64 start = gst_segment_to_stream_time(&segment, GST_FORMAT_TIME, segment.start);
    const std::lock_guard lock(startsLock);
    starts[file] = Start{++lastSerial, start};
}

GstPadProbeReturn moveSeekEarlier(GstPad *, GstPadProbeInfo *info, gpointer demuxer)
{
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEEK)
        return GST_PAD_PROBE_OK;
    gdouble rate;
    GstFormat format;
    GstSeekFlags flags;
    GstSeekType startType, stopType;
    gint64 start, stop;
    gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
    if (format != GST_FORMAT_TIME || startType != GST_SEEK_TYPE_SET || rate <= 0 || start < 0)
        return GST_PAD_PROBE_OK;
    stateOf(demuxer).clipStart.store(GstClockTime(start));
    const gint64 early = GstClockTime(start) > ReadAhead ? start - gint64(ReadAhead) : 0;
    GstEvent *moved = gst_event_new_seek(rate, format, flags, startType, early, stopType, stop);
    gst_event_set_seqnum(moved, gst_event_get_seqnum(event));
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = moved;
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn startSegmentAtTarget(GstPad *, GstPadProbeInfo *info, gpointer demuxer)
{
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT)
        return GST_PAD_PROBE_OK;
    const GstClockTime clip = stateOf(demuxer).clipStart.load();
    const GstSegment *segment;
    gst_event_parse_segment(event, &segment);
    if (segment->format == GST_FORMAT_TIME)
        tellStart(GST_ELEMENT(demuxer), *segment);
    if (!GST_CLOCK_TIME_IS_VALID(clip) || segment->format != GST_FORMAT_TIME || segment->rate <= 0
        || segment->start >= clip || (GST_CLOCK_TIME_IS_VALID(segment->stop) && segment->stop <= clip))
        return GST_PAD_PROBE_OK;
    // Same stream time for every buffer; only what lies before clip falls
    // outside the segment, and the decoders drop it.
    GstSegment moved = *segment;
    moved.time += clip - moved.start;
    moved.start = clip;
    moved.position = clip;
    GstEvent *replacement = gst_event_new_segment(&moved);
    gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = replacement;
    return GST_PAD_PROBE_OK;
}

void watchPad(GstElement *demuxer, GstPad *pad, gpointer)
{
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC)
        return;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, moveSeekEarlier, demuxer, nullptr);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, startSegmentAtTarget, demuxer, nullptr);
}

void initInstance(GTypeInstance *instance, gpointer)
{
    g_object_set_qdata_full(G_OBJECT(instance), stateQuark(), new DemuxerState,
                            [](gpointer p) { delete static_cast<DemuxerState *>(p); });
    g_signal_connect(instance, "pad-added", G_CALLBACK(watchPad), nullptr);
}

bool install()
{
    if (!gst_init_check(nullptr, nullptr, nullptr))
        return false;
    GstElementFactory *factory = gst_element_factory_find("mpegpsdemux");
    if (!factory)
        return false;
    auto *loaded = GST_ELEMENT_FACTORY(gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory)));
    gst_object_unref(factory);
    if (!loaded)
        return false;
    const GType parent = gst_element_factory_get_element_type(loaded);
    const guint rank = gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(loaded));
    gst_object_unref(loaded);
    GTypeQuery query;
    g_type_query(parent, &query);
    if (query.type == 0)
        return false;
    // A subclass sized as its parent: it inherits the demuxer's class, pad
    // templates and description, and only adds probes to each output pad.
    GTypeInfo info{};
    info.class_size = guint16(query.class_size);
    info.instance_size = guint16(query.instance_size);
    info.instance_init = initInstance;
    const GType type = g_type_register_static(parent, "MorvaneProgramStreamDemux", &info, GTypeFlags(0));
    return type && gst_element_register(nullptr, "morvanepsdemux", rank + 1, type);
}

} // namespace

std::uint64_t programStreamMark()
{
    const std::lock_guard lock(startsLock);
    return lastSerial;
}

std::optional<std::int64_t> programStreamStartNs(const std::string &file, std::uint64_t since)
{
    const std::lock_guard lock(startsLock);
    const auto found = starts.find(file);
    if (found == starts.end() || found->second.serial <= since)
        return std::nullopt;
    return std::int64_t(found->second.time);
}

bool installProgramStreamSeek()
{
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] { installed = install(); });
    return installed;
}

} // namespace morvane
