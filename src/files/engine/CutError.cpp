#include "files/engine/CutError.h"

#include <system_error>

namespace morvane {

std::string errnoText(int error) { return std::generic_category().message(error); }

} // namespace morvane
