#include "ReceiverAccess.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
constexpr const char* LibraryFileName = "perseususb.dll";
constexpr char PathDelimiter = '\\';
#else
constexpr const char* LibraryFileName = "libperseususb.so";
constexpr char PathDelimiter = '/';
#endif

// Where an installed program keeps the simulated receiver, relative to the program's
// folder's parent (the install prefix): off the system's library path, so only this
// program finds it, and after everything else.
constexpr const char* PrivateLibraryFolder = QUILLEX_PRIVATE_LIBRARY_DIR;
// Exported by the simulated receiver only.
constexpr const char* SimulatorMark = "QuillexSimulatedReceiver";

constexpr const char* FirmwareFile = "perseusds16v11.hex";
constexpr const char* BitStreamName = "perseusds16v10";
// Handed to FpgaConfig with the bitstream; its meaning is the library's business.
constexpr unsigned char DesignConstant[8] = {0x51, 0x58, 0x02, 0x03, 0x00, 0x00, 0x10, 0x00};

constexpr uint32_t AcquisitionBit = 1;
constexpr uint32_t DitherBit = 2;
constexpr uint32_t PreampBit = 4;

std::string ProgramFolder()
{
#ifdef _WIN32
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe(path, length < MAX_PATH ? length : 0);
#else
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path));
    std::string exe(path, length > 0 && length < static_cast<ssize_t>(sizeof(path)) ? length : 0);
#endif
    const auto slash = exe.rfind(PathDelimiter);
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

void* OpenLibrary(const std::string& path)
{
#ifdef _WIN32
    // Default directories exclude the working folder; a full path is loaded as given.
    const DWORD flags = path.find(PathDelimiter) == std::string::npos
                            ? LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                            : LOAD_WITH_ALTERED_SEARCH_PATH;
    return reinterpret_cast<void*>(LoadLibraryExA(path.c_str(), nullptr, flags));
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

std::string LoadedFrom(void* handle)
{
#ifdef _WIN32
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(reinterpret_cast<HMODULE>(handle), path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
#else
    const link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return {};
    return map->l_name;
#endif
}

bool CloseLibrary(void* handle)
{
#ifdef _WIN32
    return FreeLibrary(reinterpret_cast<HMODULE>(handle)) != 0;
#else
    return dlclose(handle) == 0;
#endif
}

} // namespace

TReceiverAccess::~TReceiverAccess()
{
    ReleaseReceiverLibrary();
}

std::vector<std::string> TReceiverAccess::LibraryCandidates(const char* ExplicitPath,
                                                            const std::string& ProgramFolder)
{
    if (ExplicitPath && *ExplicitPath)
        return {ExplicitPath};
    std::vector<std::string> candidates;
    if (!ProgramFolder.empty())
        candidates.push_back(ProgramFolder + PathDelimiter + LibraryFileName);
    candidates.emplace_back(LibraryFileName);
    // The parent is taken by name: the program's folder is the resolved location of the
    // program, so a relocated or symlinked install still finds its own folder.
    const auto slash = ProgramFolder.rfind(PathDelimiter);
    if (slash != std::string::npos) {
        std::string folder = ProgramFolder.substr(0, slash + 1) + PrivateLibraryFolder;
        std::replace(folder.begin(), folder.end(), '/', PathDelimiter);
        candidates.push_back(folder + PathDelimiter + LibraryFileName);
    }
    return candidates;
}

std::string TReceiverAccess::FpgaResultText(int32_t Code)
{
    switch (Code) {
    case 0:
        return "OK";
    case 1:
        return "FPGAConfig: File not found: perseusds16v10.sbs";
    case 2:
        return "FPGAConfig: IO-Error";
    case 3:
        return "FPGAConfig: BitStream not loaded";
    default:
        return "FPGAConfig: unknown error";
    }
}

void* TReceiverAccess::LoadFirstCandidate()
{
    for (const auto& path :
         LibraryCandidates(std::getenv("QUILLEX_RECEIVER_LIBRARY"), ProgramFolder()))
        if (void* handle = OpenLibrary(path))
            return handle;
    return nullptr;
}

void* TReceiverAccess::Lookup(const char* Name) const
{
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(Handle), Name));
#else
    return dlsym(Handle, Name);
#endif
}

void TReceiverAccess::ClearEntries()
{
    GetDLLVersion = nullptr;
    Open = nullptr;
    Close = nullptr;
    FirmwareDownload = nullptr;
    FpgaConfig = nullptr;
    Sio = nullptr;
    SetAttenuator = nullptr;
    SetPreselector = nullptr;
    GetInputData = nullptr;
}

bool TReceiverAccess::BindReceiverLibrary(
    const std::function<void(const std::string&)>& ShowMessage)
{
    const auto tell = [&](const std::string& text) {
        if (ShowMessage)
            ShowMessage(text);
    };
    ReleaseReceiverLibrary();
    ControlBits = 0;
    Handle = LoadFirstCandidate();
    if (!Handle) {
        tell("Perseus-DLL not found, terminating.");
        return false;
    }
    Simulated = Lookup(SimulatorMark) != nullptr;
    LoadedPath = LoadedFrom(Handle);

    GetDLLVersion = reinterpret_cast<GetDLLVersionFn>(Lookup("GetDLLVersion"));
    Open = reinterpret_cast<OpenFn>(Lookup("Open"));
    Close = reinterpret_cast<CloseFn>(Lookup("Close"));
    FirmwareDownload = reinterpret_cast<FirmwareDownloadFn>(Lookup("FirmwareDownload"));
    FpgaConfig = reinterpret_cast<FpgaConfigFn>(Lookup("FpgaConfig"));
    Sio = reinterpret_cast<SioFn>(Lookup("Sio"));
    SetAttenuator = reinterpret_cast<SetAttenuatorFn>(Lookup("SetAttenuator"));
    SetPreselector = reinterpret_cast<SetPreselectorFn>(Lookup("SetPreselector"));
    GetInputData = reinterpret_cast<GetInputDataFn>(Lookup("GetInputData"));

    // Open and Close may be absent. The program cannot work without any of the
    // others, so a library lacking one is refused here rather than failing later.
    const std::pair<const char*, bool> required[] = {
        {"GetDLLVersion", GetDLLVersion != nullptr},
        {"FirmwareDownload", FirmwareDownload != nullptr},
        {"FpgaConfig", FpgaConfig != nullptr},
        {"Sio", Sio != nullptr},
        {"SetAttenuator", SetAttenuator != nullptr},
        {"SetPreselector", SetPreselector != nullptr},
        {"GetInputData", GetInputData != nullptr},
    };
    for (const auto& [name, found] : required) {
        if (!found) {
            ReleaseReceiverLibrary();
            tell(std::string("Perseus-DLL: entry \"") + name + "\" missing, terminating.");
            return false;
        }
    }
    return true;
}

bool TReceiverAccess::ReleaseReceiverLibrary()
{
    ClearEntries();
    Simulated = false;
    LoadedPath.clear();
    if (!Handle)
        return false;
    const bool freed = CloseLibrary(Handle);
    Handle = nullptr;
    return freed;
}

uint32_t TReceiverAccess::ReceiverDllVersion()
{
    return GetDLLVersion ? GetDLLVersion() : 0;
}

bool TReceiverAccess::ReceiverOpen()
{
    if (!Handle)
        return false;
    // A library without Open needs no opening.
    if (!Open)
        return true;
    return (Open() & 0xFF) != 0;
}

void TReceiverAccess::ReceiverClose()
{
    if (Close)
        Close();
}

bool TReceiverAccess::ReceiverFirmwareDownload()
{
    return FirmwareDownload && FirmwareDownload(FirmwareFile) == 0;
}

std::string TReceiverAccess::ReceiverFpgaConfig()
{
    if (!FpgaConfig)
        return "FPGAConfig: Perseus-DLL not loaded";
    return FpgaResultText(FpgaConfig(BitStreamName, DesignConstant));
}

void TReceiverAccess::SetControlBit(uint32_t Bit, bool On)
{
    ControlBits = On ? (ControlBits | Bit) : (ControlBits & ~Bit);
    if (Sio) {
        // A copy keeps the library from changing our word through the pointer.
        uint32_t word = ControlBits;
        Sio(&word, sizeof(word));
    }
}

void TReceiverAccess::ReceiverSetAcquisition(bool On)
{
    SetControlBit(AcquisitionBit, On);
}

void TReceiverAccess::ReceiverSetDither(bool On)
{
    SetControlBit(DitherBit, On);
}

void TReceiverAccess::ReceiverSetPreamp(bool On)
{
    SetControlBit(PreampBit, On);
}

void TReceiverAccess::ReceiverSetAttenuator(int Step)
{
    if (SetAttenuator)
        SetAttenuator(Step);
}

void TReceiverAccess::ReceiverSetPreselector(int Index)
{
    if (SetPreselector)
        SetPreselector(Index);
}

int32_t TReceiverAccess::ReceiverReadBlock(int16_t* Buffer)
{
    if (GetInputData && Buffer)
        return GetInputData(Buffer, BlockBytes);
    return -1;
}
