#include "state/TimeText.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace morvane {

namespace {
QString numberText(std::int64_t v) { return v < 0 ? QString::number(v) : QLatin1Char(' ') + QString::number(v); }
} // namespace

QString FormatHms(std::int32_t seconds)
{
    // Division truncates toward zero, so a negative count puts its sign on
    // the smallest non-zero field: -5 gives " 0 : 0 :-5".
    const std::int64_t total = seconds;
    const std::int64_t h = total / 3600;
    const std::int64_t m = (total - h * 3600) / 60;
    const std::int64_t s = total - h * 3600 - m * 60;
    return numberText(h) + QStringLiteral(" :") + numberText(m) + QStringLiteral(" :") + numberText(s);
}

std::int32_t RoundSeconds(double seconds)
{
    if (!std::isfinite(seconds))
        throw std::overflow_error("time value is not a number");
    const double r = std::nearbyint(seconds); // default rounding mode: ties to even
    if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max())
        throw std::overflow_error("time value out of range");
    return static_cast<std::int32_t>(r);
}

} // namespace morvane
