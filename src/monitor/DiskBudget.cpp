#include "DiskBudget.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillex::monitor {

namespace {

// Pattern: 'D' a digit, any other character itself.
bool Matches(const std::string& Text, size_t At, const char* Pattern)
{
    for (size_t i = 0; Pattern[i] != 0; ++i) {
        if (At + i >= Text.size())
            return false;
        const char c = Text[At + i];
        if (Pattern[i] == 'D' ? !std::isdigit(static_cast<unsigned char>(c)) : c != Pattern[i])
            return false;
    }
    return true;
}

// "" or "_N" (N from 2) before ".spk" at At, the rest of the name; the part's number or 0.
int PartAndEnd(const std::string& Name, size_t At)
{
    if (Name.compare(At, std::string::npos, ".spk") == 0)
        return 1;
    if (At >= Name.size() || Name[At] != '_')
        return 0;
    size_t end = At + 1;
    int part = 0;
    while (end < Name.size() && std::isdigit(static_cast<unsigned char>(Name[end])) &&
           end - At <= 6)
        part = part * 10 + (Name[end++] - '0');
    return end > At + 1 && Name[At + 1] != '0' && part >= 2 &&
                   Name.compare(end, std::string::npos, ".spk") == 0
               ? part
               : 0;
}

std::string Digits(const std::string& Text)
{
    std::string digits;
    for (const char c : Text)
        if (std::isdigit(static_cast<unsigned char>(c)))
            digits += c;
    return digits;
}

} // namespace

std::string RecordingOrder(const std::string& Folder, const std::string& Name)
{
    size_t stampEnd = 0;
    std::string stamp;
    if (Folder == "recordings" && Matches(Name, 0, "DDDD-DD-DD_DD")) {
        stampEnd = 13;
        stamp = Digits(Name.substr(0, stampEnd)) + "0000000";
    } else if (Folder == "alarms" && Matches(Name, 0, "limit_DDDD-DD-DD_DD-DD-DD.DDD")) {
        stampEnd = 29;
        stamp = Digits(Name.substr(6, stampEnd - 6));
    } else {
        return {};
    }
    const int part = PartAndEnd(Name, stampEnd);
    if (part == 0)
        return {};
    std::string order = stamp + std::to_string(1000000 + part);
    return order;
}

std::vector<TRecordingFile> ListRecordings(const std::string& Out)
{
    std::vector<TRecordingFile> files;
    for (const std::string folder : {"recordings", "alarms"}) {
        const std::string path = Out + "/" + folder;
        DIR* dir = ::opendir(path.c_str());
        if (dir == nullptr)
            continue;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            std::string order = RecordingOrder(folder, name);
            struct stat info
            {
            };
            const std::string file = path + "/" + name;
            // Only plain files: a link or a folder of that name is not the monitor's.
            if (order.empty() || ::lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
                continue;
            files.push_back({file, std::move(order), int64_t(info.st_size)});
        }
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end(), [](const TRecordingFile& A, const TRecordingFile& B) {
        return A.Order != B.Order ? A.Order < B.Order : A.Path < B.Path;
    });
    return files;
}

int64_t TotalBytes(const std::vector<TRecordingFile>& Files)
{
    int64_t total = 0;
    for (const TRecordingFile& f : Files)
        total += f.Bytes;
    return total;
}

int KeepWithinBudget(std::vector<TRecordingFile>& Files, int64_t Budget, int64_t Reserve,
                     const std::vector<std::string>& Keep, std::vector<std::string>& Deleted)
{
    int64_t total = TotalBytes(Files);
    int count = 0;
    for (auto it = Files.begin(); it != Files.end() && total + Reserve > Budget;) {
        if (std::find(Keep.begin(), Keep.end(), it->Path) != Keep.end() ||
            (::unlink(it->Path.c_str()) != 0 && errno != ENOENT)) {
            ++it;
            continue;
        }
        total -= it->Bytes;
        Deleted.push_back(it->Path);
        it = Files.erase(it);
        ++count;
    }
    return count;
}

} // namespace quillex::monitor
