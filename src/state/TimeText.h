#pragma once
#include <QString>
#include <cstdint>

namespace morvane {

// What the read-outs show when they are cleared; FormatHms(0) differs from it
// by its leading blank.
inline const QString ResetText = QStringLiteral("0 : 0 : 0");

// " h : m : s", each number preceded by a blank, or by its minus sign.
QString FormatHms(std::int32_t seconds);

// Player seconds to whole seconds: nearest, ties to even. Throws
// std::overflow_error when the value does not fit in 32 bits (or is NaN).
std::int32_t RoundSeconds(double seconds);

} // namespace morvane
