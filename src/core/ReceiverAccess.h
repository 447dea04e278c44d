#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The receiver is reached only through its vendor's USB library, loaded at run
// time. This class binds the library's entries and is the one way the rest of
// the program talks to the receiver. It also keeps the control word sent
// through Sio: bit 0 acquisition, bit 1 dither, bit 2 preamplifier.
class TReceiverAccess
{
public:
    static constexpr int SampleCount = 8192;
    static constexpr int32_t BlockBytes = SampleCount * 2;

    TReceiverAccess() = default;
    ~TReceiverAccess();
    TReceiverAccess(const TReceiverAccess&) = delete;
    TReceiverAccess& operator=(const TReceiverAccess&) = delete;

    // Loads the library and looks up its entries. On failure ShowMessage gets
    // the reason, nothing stays loaded and the answer is false.
    bool BindReceiverLibrary(const std::function<void(const std::string&)>& ShowMessage);
    bool ReleaseReceiverLibrary();

    uint32_t ReceiverDllVersion();
    bool ReceiverOpen();
    void ReceiverClose();
    bool ReceiverFirmwareDownload();
    std::string ReceiverFpgaConfig();
    void ReceiverSetAcquisition(bool On);
    void ReceiverSetDither(bool On);
    void ReceiverSetPreamp(bool On);
    void ReceiverSetAttenuator(int Step);
    void ReceiverSetPreselector(int Index);
    // Blocks until the library has delivered one block of SampleCount samples. Returns what
    // GetInputData returned (negative when the library could not deliver; -1 when nothing is
    // bound), which the window ignores and the monitor takes for a receiver fault.
    int32_t ReceiverReadBlock(int16_t* Buffer);

    uint32_t ControlWord() const { return ControlBits; }
    bool IsBound() const { return Handle != nullptr; }
    // True when the bound library is the simulated receiver, which exports an entry the
    // real library lacks, so that nobody takes its signal for the antenna's.
    bool IsSimulated() const { return Simulated; }
    // The file the bound library was loaded from; empty when none is bound.
    const std::string& LibraryPath() const { return LoadedPath; }

    // The files tried in order: an explicit choice in QUILLEX_RECEIVER_LIBRARY is
    // the only candidate; otherwise the program's folder, then the bare name for
    // the system's search, and last the private folder <program folder>/../lib/quillex
    // (lib/<multiarch>/quillex where the platform has one) where an installed program
    // keeps the simulator, so that it never hides a real library.
    static std::vector<std::string> LibraryCandidates(const char* ExplicitPath,
                                                      const std::string& ProgramFolder);
    static std::string FpgaResultText(int32_t Code);

private:
    using GetDLLVersionFn = uint32_t (*)();
    using OpenFn = int32_t (*)();
    using CloseFn = int32_t (*)();
    using FirmwareDownloadFn = int32_t (*)(const char* FileName);
    using FpgaConfigFn = int32_t (*)(const char* BitStream, const void* DesignConstant);
    using SioFn = int32_t (*)(void* ControlWord, int32_t ByteCount);
    using SetAttenuatorFn = int32_t (*)(int32_t Step);
    using SetPreselectorFn = int32_t (*)(int32_t Index);
    using GetInputDataFn = int32_t (*)(void* Buffer, int32_t ByteCount);

    void* LoadFirstCandidate();
    void* Lookup(const char* Name) const;
    void ClearEntries();
    void SetControlBit(uint32_t Bit, bool On);

    void* Handle = nullptr;
    bool Simulated = false;
    std::string LoadedPath;
    uint32_t ControlBits = 0;
    GetDLLVersionFn GetDLLVersion = nullptr;
    OpenFn Open = nullptr;
    CloseFn Close = nullptr;
    FirmwareDownloadFn FirmwareDownload = nullptr;
    FpgaConfigFn FpgaConfig = nullptr;
    SioFn Sio = nullptr;
    SetAttenuatorFn SetAttenuator = nullptr;
    SetPreselectorFn SetPreselector = nullptr;
    GetInputDataFn GetInputData = nullptr;
};
