#pragma once

#include <stdexcept>
#include <string>

namespace quillex {

// The exit codes of quillex-export (listed in --help and the README).
enum class TExitCode : int {
    Success = 0,
    Failure = 1,     // anything unforeseen, e.g. out of memory
    Usage = 2,       // an unknown option, a missing or out-of-range value
    InputFile = 3,   // the recording cannot be opened or read
    InputFormat = 4, // not a recording: shorter than one record, corrupt header, no frames
    OutputFile = 5,  // an output file cannot be written
    LimitsFile = 6,  // the limits file cannot be read or is none
    Interrupted = 130
};

// Ends an export with one line of text and its exit code.
class TExportError : public std::runtime_error
{
public:
    TExportError(TExitCode Code, const std::string& Message)
        : std::runtime_error(Message), FCode(Code)
    {
    }
    TExitCode Code() const { return FCode; }

private:
    TExitCode FCode;
};

} // namespace quillex
