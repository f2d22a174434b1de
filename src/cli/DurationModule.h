#pragma once
// Reads a source's duration through the window's player, which lives in a
// module of its own so that the tool loads no GUI library unless it must.

#include <stdexcept>
#include <string>

namespace morvane {

class DurationUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Seconds as the player reports them; path is the name's bytes. Throws
// DurationUnavailable with the player's reason.
double readDurationThroughPlayer(const std::string &path);

} // namespace morvane
