#pragma once
// Reads a source's duration through the window's player, which lives in a
// module of its own so that the tool loads no GUI library unless it must.

#include <stdexcept>
#include <string>
#include <vector>

namespace morvane {

class DurationUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Seconds as the player reports them for the files played one after another
// as one stream. The player takes names as text, so the caller passes only
// names whose bytes survive that trip. Throws DurationUnavailable with the
// player's reason.
double readDurationThroughPlayer(const std::vector<std::string> &paths);

} // namespace morvane
