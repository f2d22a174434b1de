#pragma once
// A GStreamer source element, registered inside this process only, that
// plays a DVD title's stream (files/engine/TitleStream.h) under a URI scheme
// of its own. Qt's back end builds its pipeline from a URL, so a title
// reaches it as "morvanetitle:///N" for the N that serveTitle hands out. The
// element is random-access and seekable, as a file source is.

#include <QUrl>

#include <memory>

namespace morvane {

class OpenTitle;

// Idempotent. False when GStreamer cannot be initialised.
bool installTitleSource();

// Makes title playable under the returned URL for as long as the handle
// lives; a pipeline that already reads it keeps it until it stops.
class ServedTitle {
public:
    explicit ServedTitle(std::shared_ptr<OpenTitle> title);
    ~ServedTitle();
    ServedTitle(const ServedTitle &) = delete;
    ServedTitle &operator=(const ServedTitle &) = delete;

    const QUrl &url() const { return url_; }
    OpenTitle &title() const { return *title_; }

private:
    std::shared_ptr<OpenTitle> title_;
    int key_ = 0;
    QUrl url_;
};

} // namespace morvane
