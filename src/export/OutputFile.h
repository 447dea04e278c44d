#pragma once

#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace quillex {

// An output written under a temporary name in the target's folder and renamed to the
// target only by Commit, so a failed or interrupted export never leaves a partial file.
// Destroyed without Commit, the temporary file is removed. A target that is a device or
// a pipe (/dev/stdout) is written in place instead.
class TOutputFile
{
public:
    // Creates the temporary file; throws TExportError (OutputFile) when the folder
    // cannot take it.
    explicit TOutputFile(const std::string& Target);
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    const std::string& Target() const { return FTarget; }
    const std::string& TemporaryName() const { return FTemporary; }
    // A buffered stream on the temporary file (opened on first use).
    std::FILE* Stream();
    // Flushes, syncs and closes the temporary file; throws TExportError (OutputFile) with
    // the reason, the temporary file removed.
    void Close();
    // Closes and renames; throws as Close.
    void Commit();
    void Discard();
    // Removes the target a Commit named: a later output of the same export failed.
    void Withdraw();

private:
    [[noreturn]] void Fail(int Error);

    std::string FTarget;
    std::string FTemporary;
    int FFd = -1;
    std::FILE* FStream = nullptr;
    std::unique_ptr<char[]> FBuffer; // the stream's, freed after it is closed
    bool FClosed = false;
    bool FDone = false;
    bool FNamed = false;
    bool FDirect = false; // the target is a device or pipe, written in place
};

// Closes every output, then renames them: when any fails, none is left, neither under
// its name nor under a temporary one. Throws TExportError (OutputFile).
void CommitAll(std::span<TOutputFile* const> Files);

// Removes every temporary output still open and ends the program with the interrupt's
// exit code when SIGINT, SIGTERM or SIGHUP arrives, and with the input file's exit code,
// saying so, when reading the mapped recording faults (SIGBUS: it was cut short).
void RemoveOutputsOnInterrupt();

} // namespace quillex
