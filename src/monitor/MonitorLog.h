#pragma once

#include <string>

// The monitor's log: one line per event on stderr, "quillex-monitor: <level>: <text>", the level
// word first so that the journal (or grep) can sort them; no colour codes. Lines from several
// threads never mix: each is one write.
namespace quillex::monitor {

enum class TLogLevel { Info, Warning, Error };

void Log(TLogLevel Level, const std::string& Text);
inline void LogInfo(const std::string& Text)
{
    Log(TLogLevel::Info, Text);
}
inline void LogWarning(const std::string& Text)
{
    Log(TLogLevel::Warning, Text);
}
inline void LogError(const std::string& Text)
{
    Log(TLogLevel::Error, Text);
}

} // namespace quillex::monitor
