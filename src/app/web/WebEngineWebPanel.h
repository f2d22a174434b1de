#pragma once
#include "app/ui/WebPanel.h"

#include <QPointer>

class QWebEngineView;

namespace morvane {

// The information panel on Qt WebEngine. The view is handed to the window,
// which owns it from then on.
class WebEngineWebPanel : public WebPanel {
public:
    WebEngineWebPanel();
    QWidget *widget() override;
    void navigate(const QUrl &address) override;

private:
    QPointer<QWebEngineView> view_;
};

} // namespace morvane
