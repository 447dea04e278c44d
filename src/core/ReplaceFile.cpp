#include "ReplaceFile.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillex {

namespace {

// The permissions a new file gets from open(2) with mode 0666. The mask is
// read from /proc rather than set and restored with umask(), which would
// briefly change it for every thread of the program.
mode_t NewFileMode()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 0644;
}

} // namespace

int ReplaceFile(const std::string& Target, const std::string& Content)
{
    std::string path = Target;
    if (char* resolved = realpath(Target.c_str(), nullptr)) { // keep symbolic links intact
        path = resolved;
        std::free(resolved);
    }
    mode_t mode = NewFileMode();
    struct stat old
    {
    };
    if (stat(path.c_str(), &old) == 0)
        mode = old.st_mode & 07777;

    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return errno;
    int error = fchmod(fd, mode) == 0 ? 0 : errno;
    size_t done = 0;
    while (error == 0 && done < Content.size()) {
        const ssize_t n = write(fd, Content.data() + done, Content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0)
            done += static_cast<size_t>(n);
        else
            error = n < 0 ? errno : ENOSPC;
    }
    if (error == 0 && fsync(fd) != 0)
        error = errno;
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0)
        unlink(temp.c_str());
    return error;
}

} // namespace quillex
