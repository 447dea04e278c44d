#include "SpkRecordFile.h"

#include "SpkFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillex {

namespace {

size_t PageSize()
{
    static const size_t size = [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        return page > 0 ? size_t(page) : size_t(4096);
    }();
    return size;
}

} // namespace

TSpkRecordFile::~TSpkRecordFile()
{
    Close();
}

void TSpkRecordFile::Open(const std::string& FileName, bool Map)
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
    // Mapped where the address space holds it; a failure only means reading by pread.
    if (Map && FByteSize > 0 && uint64_t(FByteSize) <= uint64_t(SIZE_MAX) / 2) {
        void* map = ::mmap(nullptr, size_t(FByteSize), PROT_READ, MAP_SHARED, FFd, 0);
        if (map != MAP_FAILED) {
            FMap = static_cast<const uint8_t*>(map);
            ::madvise(map, size_t(FByteSize), MADV_SEQUENTIAL);
        }
    }
}

void TSpkRecordFile::Close()
{
    if (FMap != nullptr)
        ::munmap(const_cast<uint8_t*>(FMap), size_t(FByteSize));
    FMap = nullptr;
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    FByteSize = 0;
}

int64_t TSpkRecordFile::WholeRecords() const
{
    return FByteSize / FrameRecordSize;
}

void TSpkRecordFile::CheckRange(int64_t First, int64_t Count) const
{
    if (FFd < 0)
        throw ESpkReadError("No recording file is open");
    if (First < 0 || Count < 0 || First > WholeRecords() || Count > WholeRecords() - First)
        throw ESpkReadError("Cannot read record " + std::to_string(First) + " of " + FFileName +
                            ": the file ends before it");
}

// Maps the pages of the range in before they are read: one call instead of a fault per
// few pages, and a file cut short since it was opened is an error here rather than a
// fault on reading (only a cut between this and the read escapes it).
void TSpkRecordFile::Populate(size_t Offset, size_t Size) const
{
#ifdef MADV_POPULATE_READ
    if (Size == 0)
        return;
    const size_t start = Offset / PageSize() * PageSize();
    if (::madvise(const_cast<uint8_t*>(FMap) + start, Offset + Size - start,
                  MADV_POPULATE_READ) == 0 ||
        errno == EINVAL || errno == EPERM) // a kernel without it: the reads fault pages in
        return;
    const int error = errno;
    struct stat info
    {
    };
    if (error == EFAULT ||
        (::fstat(FFd, &info) == 0 && uint64_t(info.st_size) < uint64_t(Offset + Size)))
        throw ESpkReadError("Cannot read " + FFileName + ": the file became shorter");
    throw ESpkReadError("Cannot read " + FFileName + ": " + std::strerror(error));
#else
    (void)Offset;
    (void)Size;
#endif
}

const uint8_t* TSpkRecordFile::MappedRecords(int64_t First, int64_t Count) const
{
    CheckRange(First, Count);
    if (FMap == nullptr)
        return nullptr;
    const size_t offset = size_t(First) * FrameRecordSize;
    Populate(offset, size_t(Count) * FrameRecordSize);
    return FMap + offset;
}

void TSpkRecordFile::Release(int64_t First, int64_t End) const
{
    End = std::min(End, WholeRecords());
    if (FMap == nullptr || First < 0 || End <= First)
        return;
    const size_t start = size_t(First) * FrameRecordSize / PageSize() * PageSize();
    const size_t end = size_t(End) * FrameRecordSize / PageSize() * PageSize();
    if (start < end)
        ::madvise(const_cast<uint8_t*>(FMap) + start, end - start, MADV_DONTNEED);
}

void TSpkRecordFile::ReadRecords(int64_t First, int64_t Count, uint8_t* Buffer) const
{
    CheckRange(First, Count);
    const size_t total = static_cast<size_t>(Count) * FrameRecordSize;
    if (const uint8_t* records = MappedRecords(First, Count)) {
        std::memcpy(Buffer, records, total);
        return;
    }
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
