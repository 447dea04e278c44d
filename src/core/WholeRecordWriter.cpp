#include "WholeRecordWriter.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillex {

static_assert(sizeof(off_t) >= 8, "files beyond 2 GiB need 64-bit file offsets");

namespace {

std::string Reason(int Error)
{
    return std::strerror(Error);
}

} // namespace

TWholeRecordWriter::~TWholeRecordWriter()
{
    if (FFd >= 0)
        ::close(FFd);
}

bool TWholeRecordWriter::Open(const std::string& FileName, TMode Mode)
{
    Close();
    FFileName = FileName;
    FSize = 0;
    FError.clear();
    const bool append = Mode == TMode::Append;
    const int flags = append ? O_RDWR | O_CREAT | O_APPEND : O_WRONLY | O_CREAT | O_TRUNC;
    const std::string verb = append ? "Cannot open " : "Cannot create ";
    FFd = ::open(FileName.c_str(), flags | O_CLOEXEC, 0666);
    if (FFd < 0)
        return Fail(verb + FileName + ": " + Reason(errno));
    struct stat info
    {
    };
    if (::fstat(FFd, &info) != 0)
        return Fail(verb + FileName + ": " + Reason(errno));
    FDevice = info.st_dev;
    FInode = info.st_ino;
    FSize = info.st_size;
    return true;
}

bool TWholeRecordWriter::StillTheFileOpened(int64_t& SizeNow) const
{
    struct stat info
    {
    };
    if (::stat(FFileName.c_str(), &info) != 0 || info.st_dev != FDevice || info.st_ino != FInode)
        return false;
    SizeNow = info.st_size;
    return true;
}

bool TWholeRecordWriter::Write(const void* Record, size_t Size)
{
    if (FFd < 0)
        return Fail("No file is open" + (FFileName.empty() ? "" : " (" + FFileName + ")"));
    int64_t before = 0;
    if (!StillTheFileOpened(before))
        return Fail(FFileName + " was removed, renamed or replaced: nothing more is written to it");
    const auto* bytes = static_cast<const char*>(Record);
    size_t done = 0;
    while (done < Size) {
        const ssize_t n = ::write(FFd, bytes + done, Size - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int error = n < 0 ? errno : ENOSPC;
        // Every whole record stays, none of this one.
        const bool cut = done == 0 || ::ftruncate(FFd, off_t(before)) == 0;
        return Fail("Cannot write to " + FFileName + ": " + Reason(error) +
                    (cut ? "" : " (its last record may be incomplete)"));
    }
    FSize = before + int64_t(Size);
    return true;
}

bool TWholeRecordWriter::Close()
{
    if (FFd < 0)
        return true;
    const int result = ::close(FFd);
    const int error = errno;
    FFd = -1;
    if (result == 0 || error == EINTR)
        return true;
    FError = "Cannot write to " + FFileName + ": " + Reason(error);
    return false;
}

bool TWholeRecordWriter::Fail(std::string Message)
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    FError = std::move(Message);
    return false;
}

} // namespace quillex
