#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

// An existing file (or a link to one) is only opened. A missing one is created as a new file of
// its own: O_EXCL makes the create refuse a symbolic link, so a dangling link planted under the key
// file's name in a shared directory such as /tmp can not make a privileged caller create a
// world-writable file wherever the link points.
bool touchFile(const char* path, unsigned mode)
{
    if (path == nullptr || *path == '\0') return false;
    const int flags = O_RDWR | O_NOCTTY | O_NONBLOCK;
    int fd = ::open(path, flags);
    if (fd < 0 && errno == ENOENT) {
        // The key file must be usable by both programs whatever user or umask started them.
        mode_t previous = ::umask(0);
        fd = ::open(path, flags | O_CREAT | O_EXCL, static_cast<mode_t>(mode));
        ::umask(previous);
        // Another process may have created it in the meantime.
        if (fd < 0 && errno == EEXIST) fd = ::open(path, flags);
    }
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool touchFile(const std::string& path, unsigned mode) { return touchFile(path.c_str(), mode); }

}  // namespace runner
}  // namespace pcudata
