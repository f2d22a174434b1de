#include "app/web/WebEngineWebPanel.h"

#include <QWebEngineView>

namespace morvane {

WebEngineWebPanel::WebEngineWebPanel() : view_(new QWebEngineView) {}

QWidget *WebEngineWebPanel::widget() { return view_; }

void WebEngineWebPanel::navigate(const QUrl &address)
{
    if (view_)
        view_->load(address);
}

} // namespace morvane
