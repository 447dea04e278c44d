#include "ExportRun.h"

#include "CsvWriter.h"
#include "ExportError.h"
#include "ExportImage.h"
#include "ExportPipeline.h"
#include "FrameTimes.h"
#include "OutputFile.h"
#include "SpkFile.h"
#include "SpkRecordFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace quillex {

namespace {

constexpr const char* Program = "quillex-export: ";
// Taller images are refused: viewers cannot show them and memory would follow.
constexpr int64_t MaxImageRows = 65536;
// Levels of rows held while the image is laid out, at most.
constexpr size_t MaxEarlyBytes = 8 << 20;

const char* WindowName(TDXLeakType Window)
{
    switch (Window) {
    case wnRectangle:
        return "rect";
    case wnHamming:
        return "Hamming";
    case wnBlackman:
        return "Blackman";
    default:
        return "Hann";
    }
}

std::string BaseName(const std::string& Path)
{
    const size_t slash = Path.find_last_of('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

bool SameFile(const std::string& A, const std::string& B)
{
    struct stat a
    {
    }, b{};
    return ::stat(A.c_str(), &a) == 0 && ::stat(B.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// "45%  52013 frames/s  0:12 left", rewritten in place at most four times a second.
class TProgress
{
public:
    TProgress(std::ostream& Err, bool On, int64_t Total) : FErr(Err), FOn(On), FTotal(Total) {}
    void Update(int64_t Done)
    {
        if (!FOn)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (Done < FTotal && now - FLast < std::chrono::milliseconds(250))
            return;
        FLast = now;
        const double seconds = std::chrono::duration<double>(now - FStart).count();
        const double rate = seconds > 0 ? double(Done) / seconds : 0.0;
        const long left = rate > 0 ? long(double(FTotal - Done) / rate + 0.5) : 0;
        char text[96];
        std::snprintf(text, sizeof text, "\r%3d%%  %8.0f frames/s  %ld:%02ld left   ",
                      int(100 * Done / std::max<int64_t>(1, FTotal)), rate, left / 60, left % 60);
        FErr << text << std::flush;
        FShown = true;
    }
    // A line of its own, below the progress shown so far.
    void Say(const std::string& Line)
    {
        if (FShown)
            FErr << '\n';
        FShown = false;
        FErr << Line << '\n' << std::flush;
    }
    ~TProgress()
    {
        if (FShown)
            FErr << '\n';
    }

private:
    std::ostream& FErr;
    bool FOn;
    int64_t FTotal;
    bool FShown = false;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point FLast{};
};

std::string StampWarning(const std::string& Input, int64_t Record, double Stamp)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", Stamp);
    return std::string(Program) + "warning: " + Input +
           " is probably no recording: it has no header, and the stamp of record " +
           std::to_string(Record) + " (" + text + ") is neither 0 nor a date from 1990 to 2100";
}

struct TInput
{
    TSpkRecordFile File;
    std::optional<TOffsetsHeader> Header;
    int64_t FirstFrame = 0; // 1 behind a header
    int64_t LastFrame = 0;
};

void OpenInput(const TExportOptions& O, TInput& In, std::ostream& Err)
{
    try {
        In.File.Open(O.Input);
    } catch (const ESpkError& e) {
        throw TExportError(TExitCode::InputFile, e.what());
    }
    if (In.File.ByteSize() < FrameRecordSize)
        throw TExportError(TExitCode::InputFormat,
                           O.Input + " is no recording: it is shorter than one record (" +
                               std::to_string(In.File.ByteSize()) + " of " +
                               std::to_string(FrameRecordSize) + " bytes)");
    std::vector<uint8_t> first(FrameRecordSize);
    try {
        In.File.ReadRecords(0, 1, first.data());
        In.Header = ParseOffsetsHeader(first.data(), first.size());
    } catch (const ESpkFormatError& e) {
        throw TExportError(TExitCode::InputFormat, O.Input + ": " + e.what());
    } catch (const ESpkError& e) {
        throw TExportError(TExitCode::InputFile, e.what());
    }
    In.FirstFrame = In.Header ? 1 : 0;
    In.LastFrame = In.File.WholeRecords() - 1;
    if (In.LastFrame < In.FirstFrame)
        throw TExportError(TExitCode::InputFormat, O.Input + " holds no frames, only a header");
    if (const int64_t rest = In.File.ByteSize() % FrameRecordSize; rest != 0 && !O.Quiet)
        Err << Program << "warning: " << O.Input << " ends in a partial record; its last " << rest
            << " bytes are ignored\n";
}

int64_t Resolve(const std::optional<int64_t>& Value, int64_t Default, const char* Name,
                const TInput& In)
{
    if (!Value)
        return Default;
    if (*Value < In.FirstFrame || *Value > In.LastFrame)
        throw TExportError(TExitCode::Usage,
                           std::string(Name) + " " + std::to_string(*Value) +
                               " is out of range: the frames of this recording are " +
                               std::to_string(In.FirstFrame) + " .. " +
                               std::to_string(In.LastFrame));
    return *Value;
}

void Export(const TExportOptions& O, std::ostream& Err, bool ShowProgress,
            const std::function<void()>& StartGui)
{
    TInput in;
    OpenInput(O, in, Err);

    TPipelineSettings settings;
    settings.Spectrum = O.Spectrum;
    settings.Spectrum.Inverted = O.Inverted.value_or(in.Header && in.Header->Inverted);
    settings.First = Resolve(O.First, in.FirstFrame, "--first", in);
    settings.Last = Resolve(O.Last, in.LastFrame, "--last", in);
    if (settings.First > settings.Last)
        throw TExportError(TExitCode::Usage, "--first lies after --last");
    const int64_t frames = settings.Last - settings.First + 1;
    settings.Fold = O.Fold.value_or(1);
    if (!O.Fold && !O.Png.empty() && frames > MaxDefaultImageRows) {
        settings.Fold = (frames + MaxDefaultImageRows - 1) / MaxDefaultImageRows;
        if (!O.Quiet)
            Err << Program << "folding " << settings.Fold << " frames into each row to keep the "
                << "image at most " << MaxDefaultImageRows << " rows (--fold sets it)\n";
    }
    settings.FoldMode = O.FoldMode;
    settings.Threads =
        O.Threads > 0 ? O.Threads : int(std::max(1u, std::thread::hardware_concurrency()));
    const int64_t rows = OutputRowCount(settings.First, settings.Last, settings.Fold);
    if (!O.Png.empty() && rows > MaxImageRows)
        throw TExportError(TExitCode::Usage, "the image would have " + std::to_string(rows) +
                                                 " rows (at most " + std::to_string(MaxImageRows) +
                                                 "); give a larger --fold");
    for (const std::string* out : {&O.Png, &O.Csv})
        if (!out->empty() && SameFile(*out, O.Input))
            throw TExportError(TExitCode::Usage, *out + " is the recording itself");

    const TSpan span = SpanOf(settings.Spectrum);
    const double freqOffset = in.Header ? in.Header->FreqOffset : 0.0;
    std::unique_ptr<TOutputFile> pngFile, csvFile;
    std::unique_ptr<TExportImage> image;
    std::optional<TCsvWriter> csv;
    TImageSettings is;
    if (!O.Png.empty()) {
        pngFile = std::make_unique<TOutputFile>(O.Png);
        is.Span = span;
        is.Rows = rows;
        is.ZMin = O.MinDbm;
        is.ZMax = O.MaxDbm;
        is.LevelOffset = in.Header ? in.Header->LevelOffset : 0.0;
        is.FreqOffsetMHz = freqOffset;
        char title[256];
        std::snprintf(
            title, sizeof title,
            "%s   FFT %d points, %s, average %d%s   frames %lld .. %lld, %lld per row (%s)",
            BaseName(O.Input).c_str(), span.N, WindowName(O.Spectrum.Window), O.Spectrum.Average,
            settings.Spectrum.Inverted ? ", inverted" : "", (long long)settings.First,
            (long long)settings.Last, (long long)settings.Fold,
            O.FoldMode == TFoldMode::Max ? "max" : "mean");
        is.Title = title;
    }
    // Every row of the table gets a time from the recording's stamps: those of the frames
    // transformed are handed in, the few beyond them read on their own.
    std::unique_ptr<TSpkStampReader> stampReader;
    std::optional<TFrameTimes> times;
    if (!O.Csv.empty()) {
        try {
            stampReader = std::make_unique<TSpkStampReader>(O.Input);
        } catch (const ESpkError& e) {
            throw TExportError(TExitCode::InputFile, e.what());
        }
        times.emplace(in.FirstFrame, in.LastFrame,
                      [&read = *stampReader](int64_t Frame) { return read(Frame); });
        csvFile = std::make_unique<TOutputFile>(O.Csv);
        csv.emplace(csvFile->Stream(), O.Csv, span, freqOffset);
    }
    // A file without a header is taken for a recording on trust; a stamp the program
    // would never write says it probably is none.
    bool checkStamps = !in.Header && !O.Quiet;

    // The frames are transformed on another thread from the start, while this one starts
    // the GUI and lays out the image (fonts take a tenth of a short export); rows done
    // before that wait in memory.
    std::promise<void> imagePromise;
    std::shared_future<void> imageReady = imagePromise.get_future().share();
    std::exception_ptr pipelineError;
    TProgress progress(Err, ShowProgress && !O.Quiet, frames);
    std::thread pipeline([&] {
        // Rows done before the image is laid out wait here, up to a bound.
        std::vector<TOutputRow> early;
        std::vector<float> earlyLevels;
        bool shown = O.Png.empty();
        const auto showEarlyRows = [&] {
            imageReady.get(); // rethrows the image's failure
            for (size_t r = 0; r < early.size(); ++r) {
                early[r].Levels = earlyLevels.data() + r * size_t(span.Length);
                image->AddRow(early[r]);
            }
            early = {};
            earlyLevels = {};
            shown = true;
        };
        try {
            RunPipeline(in.File, settings,
                        {.Frames =
                             [&](int64_t First, int Count, const double* Stamps) {
                                 if (times)
                                     times->Note(First, Stamps, Count);
                                 for (int f = 0; checkStamps && f < Count; ++f)
                                     if (!IsPlausibleStamp(Stamps[f])) {
                                         progress.Say(StampWarning(O.Input, First + f, Stamps[f]));
                                         checkStamps = false;
                                     }
                             },
                         .Row =
                             [&](const TOutputRow& Row) {
                                 if (csv) {
                                     csv->WriteRow(Row, times->TimeOf(Row.FirstFrame),
                                                   times->Stamped(Row.FirstFrame));
                                     times->Forget(Row.FirstFrame);
                                 }
                                 if (!shown &&
                                     (earlyLevels.size() * sizeof(float) >= MaxEarlyBytes ||
                                      imageReady.wait_for(std::chrono::seconds(0)) ==
                                          std::future_status::ready))
                                     showEarlyRows();
                                 if (shown) {
                                     if (image)
                                         image->AddRow(Row);
                                     return;
                                 }
                                 early.push_back(Row);
                                 earlyLevels.insert(earlyLevels.end(), Row.Levels,
                                                    Row.Levels + span.Length);
                             },
                         .Progress = [&](int64_t Done) { progress.Update(Done); }});
            if (!shown)
                showEarlyRows();
        } catch (...) {
            pipelineError = std::current_exception();
        }
    });
    std::exception_ptr imageError;
    try {
        if (!O.Png.empty()) {
            if (StartGui)
                StartGui();
            image = std::make_unique<TExportImage>(is);
        }
        imagePromise.set_value();
    } catch (...) {
        imageError = std::current_exception();
        imagePromise.set_exception(imageError);
    }
    pipeline.join();
    if (imageError)
        std::rethrow_exception(imageError);
    if (pipelineError) {
        try {
            std::rethrow_exception(pipelineError);
        } catch (const ESpkError& e) {
            throw TExportError(TExitCode::InputFile, e.what());
        }
    }
    if (image) {
        image->Finish();
        image->Save(pngFile->TemporaryName(), settings.Threads);
    }
    // Only when every output is complete does any of them get its name.
    if (csvFile)
        csvFile->Commit();
    if (pngFile)
        pngFile->Commit();
}

} // namespace

int RunExport(const TExportOptions& Options, std::ostream& Err, bool Progress,
              const std::function<void()>& StartGui)
{
    try {
        Export(Options, Err, Progress, StartGui);
        return 0;
    } catch (const TExportError& e) {
        Err << Program << e.what() << '\n';
        return static_cast<int>(e.Code());
    } catch (const std::bad_alloc&) {
        Err << Program << "not enough memory\n";
    } catch (const std::exception& e) {
        Err << Program << e.what() << '\n';
    }
    return static_cast<int>(TExitCode::Failure);
}

} // namespace quillex
