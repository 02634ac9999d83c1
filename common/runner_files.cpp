#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runner.h"

namespace pcudata {
namespace runner {

bool FileExists(const char* path)
{
    if (path == nullptr || *path == '\0') return false;
    struct stat st;
    return ::stat(path, &st) == 0;
}

bool FileExists(const std::string& path) { return FileExists(path.c_str()); }

bool touchFile(const char* path, unsigned mode)
{
    if (path == nullptr || *path == '\0') return false;
    // The key file must be usable by both programs whatever user or umask started them.
    mode_t previous = ::umask(0);
    int fd = ::open(path, O_RDWR | O_CREAT | O_NOCTTY | O_NONBLOCK, static_cast<mode_t>(mode));
    ::umask(previous);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool touchFile(const std::string& path, unsigned mode) { return touchFile(path.c_str(), mode); }

}  // namespace runner
}  // namespace pcudata
