#pragma once
// The ways a cut ends without a clip. what() is a sentence a person can read;
// names in it are printable (see printableName).

#include <stdexcept>
#include <string>

namespace morvane {

// Nothing was left at a new target, and an existing one is unchanged.
class CutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The caller asked the cut to stop.
class CutCancelled : public CutError {
public:
    CutCancelled() : CutError("The cut was cancelled.") {}
};

// The target is no place for the clip: it is not a file ("... is a
// directory"), or one of the two below.
class TargetRefused : public CutError {
public:
    using CutError::CutError;
};

// The target is the source, or a file that cannot be told apart from it
// (the same file seen through another mount, say).
class TargetInUse : public TargetRefused {
public:
    using TargetRefused::TargetRefused;
};

// The target was to be a new file, but a file has that name.
class TargetTaken : public TargetRefused {
public:
    using TargetRefused::TargetRefused;
};

// The system's words for an errno value.
std::string errnoText(int error);

} // namespace morvane
