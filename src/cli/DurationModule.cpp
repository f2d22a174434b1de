#include "cli/DurationModule.h"

#include <dlfcn.h>
#include <unistd.h>

namespace morvane {

namespace {

using ReadDuration = int (*)(const char *const *, int, double *, char *, std::size_t);

std::string executableDir()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return ".";
    std::string path(buffer, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/'));
}

// Beside the program in a build tree, under the library folder once installed.
void *loadModule()
{
    const std::string dir = executableDir();
    std::string errors;
    for (const std::string &candidate :
         {dir + "/morvane-duration.so", dir + "/" MORVANE_MODULE_FROM_BIN "/morvane-duration.so"}) {
        if (void *handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL))
            return handle;
        errors += std::string(errors.empty() ? "" : "; ") + ::dlerror();
    }
    throw DurationUnavailable("the media player module cannot be loaded: " + errors);
}

} // namespace

double readDurationThroughPlayer(const std::vector<std::string> &paths)
{
    std::vector<const char *> names;
    for (const std::string &path : paths)
        names.push_back(path.c_str());
    static void *const module = loadModule();
    const auto read = reinterpret_cast<ReadDuration>(::dlsym(module, "morvane_read_duration"));
    if (!read)
        throw DurationUnavailable("the media player module has no duration reader");
    double seconds = 0;
    char error[1024] = "";
    if (read(names.data(), int(names.size()), &seconds, error, sizeof error) != 0)
        throw DurationUnavailable(error);
    return seconds;
}

} // namespace morvane
