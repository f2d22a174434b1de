#pragma once
#include <QIcon>
#include <QImage>

namespace morvane {

constexpr int IconSizes[] = {16, 24, 32, 48};

// The window icon: a film frame with a green range mark under it.
QImage drawIcon(int size);
QIcon appIcon();

} // namespace morvane
