#pragma once
// The layout is drawn in twips; widgets live in pixels at 96 dpi.

#include <QRect>
#include <cmath>

namespace morvane {

constexpr int TwipsPerPixel = 15;

inline int px(double twips) { return static_cast<int>(std::lround(twips / TwipsPerPixel)); }
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace morvane
