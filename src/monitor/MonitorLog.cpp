#include "MonitorLog.h"

#include <unistd.h>

namespace quillex::monitor {

void Log(TLogLevel Level, const std::string& Text)
{
    const char* word = Level == TLogLevel::Info      ? "info"
                       : Level == TLogLevel::Warning ? "warning"
                                                     : "error";
    std::string line = std::string("quillex-monitor: ") + word + ": ";
    // A line break inside the text would start a line without a level word.
    for (const char c : Text)
        line += c == '\n' || c == '\r' ? ' ' : c;
    line += '\n';
    // One write per line: the kernel keeps writes to a pipe of up to 4 KB whole.
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

} // namespace quillex::monitor
