#include "playback/media/ProgramStreamSeek.h"

#include <gst/gst.h>

#include <atomic>
#include <mutex>

namespace morvane {

namespace {

// Covers the mux delay of DVD streams (at most about one second) plus their
// longest group of pictures (0.6 s); what is read in excess costs only the
// decoding of the pictures before the target.
constexpr GstClockTime ReadAhead = 3 * GST_SECOND;

GQuark clipQuark()
{
    static const GQuark quark = g_quark_from_static_string("morvane-clip-start");
    return quark;
}

// Where the demuxer's output must start after the last seek, in stream time.
std::atomic<GstClockTime> *clipStart(gpointer demuxer)
{
    return static_cast<std::atomic<GstClockTime> *>(g_object_get_qdata(G_OBJECT(demuxer), clipQuark()));
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
    clipStart(demuxer)->store(GstClockTime(start));
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
    const GstClockTime clip = clipStart(demuxer)->load();
    const GstSegment *segment;
    gst_event_parse_segment(event, &segment);
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
    g_object_set_qdata_full(G_OBJECT(instance), clipQuark(), new std::atomic<GstClockTime>(GST_CLOCK_TIME_NONE),
                            [](gpointer p) { delete static_cast<std::atomic<GstClockTime> *>(p); });
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

bool installProgramStreamSeek()
{
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] { installed = install(); });
    return installed;
}

} // namespace morvane
