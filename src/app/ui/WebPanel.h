#pragma once
#include <QUrl>

class QWidget;

namespace morvane {

// The information panel at the bottom of the window.
class WebPanel {
public:
    virtual ~WebPanel() = default;
    virtual QWidget *widget() = 0;
    // Returns at once; the page loads in the background.
    virtual void navigate(const QUrl &address) = 0;
};

} // namespace morvane
