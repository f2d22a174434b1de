#pragma once
// Where the marker lines stand above the slider, in twips. The track runs
// from 170 to 9400; the end line sits 160 twips right of a start line at the
// same second.

#include <cstdint>
#include <stdexcept>

namespace morvane {

constexpr std::int32_t TrackWidth = 9230;
constexpr std::int32_t StartLineOffset = 170;
constexpr std::int32_t EndLineOffset = 330;
constexpr std::int32_t TrackEnd = StartLineOffset + TrackWidth; // 9400

// Twips per second of slider value, as the window has always kept it.
// Throws on a zero maximum, like the division it stands for.
inline std::int32_t markScale(std::int32_t sliderMaximum)
{
    if (sliderMaximum == 0)
        throw std::domain_error("division by zero");
    return TrackWidth / sliderMaximum;
}

// Multiplied before dividing, in 64 bits, so that a long source keeps its
// lines in proportion and the last second lands at the end of the track.
// An empty track (maximum 0) keeps the line at its offset.
inline std::int64_t markerX(std::int32_t offset, std::int32_t value, std::int32_t maximum)
{
    if (maximum <= 0)
        return offset;
    return offset + std::int64_t(value) * TrackWidth / maximum;
}

} // namespace morvane
