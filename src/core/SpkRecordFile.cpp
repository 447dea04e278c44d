#include "SpkRecordFile.h"

#include "SpkFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillex {

TSpkRecordFile::~TSpkRecordFile()
{
    Close();
}

void TSpkRecordFile::Open(const std::string& FileName)
{
    Close();
    FFileName = FileName;
    FFd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (FFd < 0)
        throw ESpkReadError("Cannot open " + FileName + ": " + std::strerror(errno));
    struct stat info
    {
    };
    if (::fstat(FFd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : (errno != 0 ? errno : EINVAL);
        Close();
        throw ESpkReadError("Cannot open " + FileName + ": " + std::strerror(error));
    }
    FByteSize = info.st_size;
    // The file is read once from front to back.
    ::posix_fadvise(FFd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void TSpkRecordFile::Close()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    FByteSize = 0;
}

int64_t TSpkRecordFile::WholeRecords() const
{
    return FByteSize / FrameRecordSize;
}

void TSpkRecordFile::ReadRecords(int64_t First, int64_t Count, uint8_t* Buffer) const
{
    if (FFd < 0)
        throw ESpkReadError("No recording file is open");
    if (First < 0 || Count < 0 || First > WholeRecords() || Count > WholeRecords() - First)
        throw ESpkReadError("Cannot read record " + std::to_string(First) + " of " + FFileName +
                            ": the file ends before it");
    const size_t total = static_cast<size_t>(Count) * FrameRecordSize;
    off_t offset = static_cast<off_t>(First * FrameRecordSize);
    size_t done = 0;
    while (done < total) {
        const ssize_t n = ::pread(FFd, Buffer + done, total - done, offset);
        if (n > 0) {
            done += static_cast<size_t>(n);
            offset += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            throw ESpkReadError("Cannot read " + FFileName + ": " +
                                (n < 0 ? std::strerror(errno) : "the file became shorter"));
        }
    }
}

} // namespace quillex
