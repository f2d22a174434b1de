#include "playback/media/TitleSource.h"

#include "files/engine/ByteSource.h"
#include "files/engine/TitleStream.h"

#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>

#include <map>
#include <mutex>

namespace morvane {

namespace {

constexpr const char *Scheme = "morvanetitle";

// What a source element reads: the title, and one lock for its stream's
// reads, which share a buffer.
struct Served {
    std::shared_ptr<OpenTitle> title;
    std::mutex reading;
};

std::mutex servedLock;
std::map<int, std::shared_ptr<Served>> served;
int lastKey = 0;

struct TitleSrc {
    GstBaseSrc parent;
    gchar *uri;
    std::shared_ptr<Served> *title; // while started
};

struct TitleSrcClass {
    GstBaseSrcClass parent;
};

GstBaseSrcClass *parentClass = nullptr;

TitleSrc *self(gpointer object) { return reinterpret_cast<TitleSrc *>(object); }

int keyOf(const gchar *uri)
{
    if (!uri || !g_str_has_prefix(uri, "morvanetitle:///"))
        return 0;
    return int(g_ascii_strtoll(uri + std::strlen("morvanetitle:///"), nullptr, 10));
}

gboolean start(GstBaseSrc *base)
{
    TitleSrc *src = self(base);
    std::shared_ptr<Served> title;
    {
        const std::lock_guard lock(servedLock);
        if (const auto found = served.find(keyOf(src->uri)); found != served.end())
            title = found->second;
    }
    if (!title) {
        GST_ELEMENT_ERROR(base, RESOURCE, NOT_FOUND, ("No DVD title is served as \"%s\".", src->uri), (nullptr));
        return FALSE;
    }
    src->title = new std::shared_ptr<Served>(std::move(title));
    return TRUE;
}

gboolean stop(GstBaseSrc *base)
{
    TitleSrc *src = self(base);
    delete src->title;
    src->title = nullptr;
    return TRUE;
}

gboolean getSize(GstBaseSrc *base, guint64 *size)
{
    TitleSrc *src = self(base);
    if (!src->title)
        return FALSE;
    *size = guint64((*src->title)->title->stream().size());
    return TRUE;
}

gboolean isSeekable(GstBaseSrc *) { return TRUE; }

GstFlowReturn fill(GstBaseSrc *base, guint64 offset, guint length, GstBuffer *buffer)
{
    TitleSrc *src = self(base);
    Served &title = **src->title;
    TitleStream &stream = title.title->stream();
    if (offset >= guint64(stream.size()))
        return GST_FLOW_EOS;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE))
        return GST_FLOW_ERROR;
    std::size_t got = 0;
    try {
        const std::lock_guard lock(title.reading);
        got = stream.read(std::int64_t(offset), map.data, length);
    } catch (const std::exception &e) {
        gst_buffer_unmap(buffer, &map);
        GST_ELEMENT_ERROR(base, RESOURCE, READ, ("%s", e.what()), (nullptr));
        return GST_FLOW_ERROR;
    }
    gst_buffer_unmap(buffer, &map);
    if (got == 0)
        return GST_FLOW_EOS;
    gst_buffer_resize(buffer, 0, gsize(got));
    GST_BUFFER_OFFSET(buffer) = offset;
    GST_BUFFER_OFFSET_END(buffer) = offset + got;
    return GST_FLOW_OK;
}

void finalize(GObject *object)
{
    TitleSrc *src = self(object);
    delete src->title;
    g_free(src->uri);
    G_OBJECT_CLASS(parentClass)->finalize(object);
}

void classInit(gpointer klass, gpointer)
{
    parentClass = GST_BASE_SRC_CLASS(g_type_class_peek_parent(klass));
    G_OBJECT_CLASS(klass)->finalize = finalize;
    auto *element = GST_ELEMENT_CLASS(klass);
    static GstStaticPadTemplate srcTemplate =
        GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(element, "Morvane DVD title source", "Source/File",
                                          "Reads a DVD title's cells in play order as one program stream", "Morvane");
    auto *base = GST_BASE_SRC_CLASS(klass);
    base->start = start;
    base->stop = stop;
    base->get_size = getSize;
    base->is_seekable = isSeekable;
    base->fill = fill;
}

void instanceInit(GTypeInstance *instance, gpointer)
{
    TitleSrc *src = self(instance);
    src->uri = nullptr;
    src->title = nullptr;
    // As many sectors at a time as a VOBU's NAV pack says little about; the
    // demuxer asks for its own sizes when it pulls.
    gst_base_src_set_blocksize(GST_BASE_SRC(instance), 32 * 2048);
}

GstURIType uriType(GType) { return GST_URI_SRC; }

const gchar *const *protocols(GType)
{
    static const gchar *const list[] = {Scheme, nullptr};
    return list;
}

gchar *getUri(GstURIHandler *handler) { return g_strdup(self(handler)->uri); }

gboolean setUri(GstURIHandler *handler, const gchar *uri, GError **error)
{
    TitleSrc *src = self(handler);
    if (GST_STATE(src) != GST_STATE_NULL && GST_STATE(src) != GST_STATE_READY) {
        g_set_error(error, GST_URI_ERROR, GST_URI_ERROR_BAD_STATE, "The title cannot change while it plays");
        return FALSE;
    }
    if (keyOf(uri) <= 0) {
        g_set_error(error, GST_URI_ERROR, GST_URI_ERROR_BAD_URI, "Not a DVD title's address: %s", uri);
        return FALSE;
    }
    g_free(src->uri);
    src->uri = g_strdup(uri);
    return TRUE;
}

void uriHandlerInit(gpointer iface, gpointer)
{
    auto *handler = static_cast<GstURIHandlerInterface *>(iface);
    handler->get_type = uriType;
    handler->get_protocols = protocols;
    handler->get_uri = getUri;
    handler->set_uri = setUri;
}

bool install()
{
    if (!gst_init_check(nullptr, nullptr, nullptr))
        return false;
    GTypeInfo info{};
    info.class_size = sizeof(TitleSrcClass);
    info.class_init = classInit;
    info.instance_size = sizeof(TitleSrc);
    info.instance_init = instanceInit;
    const GType type = g_type_register_static(GST_TYPE_BASE_SRC, "MorvaneTitleSrc", &info, GTypeFlags(0));
    const GInterfaceInfo uriHandler{uriHandlerInit, nullptr, nullptr};
    g_type_add_interface_static(type, GST_TYPE_URI_HANDLER, &uriHandler);
    return gst_element_register(nullptr, "morvanetitlesrc", GST_RANK_PRIMARY, type);
}

} // namespace

bool installTitleSource()
{
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] { installed = install(); });
    return installed;
}

ServedTitle::ServedTitle(std::shared_ptr<OpenTitle> title) : title_(std::move(title))
{
    auto entry = std::make_shared<Served>();
    entry->title = title_;
    const std::lock_guard lock(servedLock);
    key_ = ++lastKey;
    served[key_] = std::move(entry);
    url_ = QUrl(QStringLiteral("%1:///%2").arg(QLatin1String(Scheme)).arg(key_));
}

ServedTitle::~ServedTitle()
{
    const std::lock_guard lock(servedLock);
    served.erase(key_);
}

} // namespace morvane
