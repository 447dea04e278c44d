#include "ExportRun.h"

#include "CsvWriter.h"
#include "ExportError.h"
#include "ExportImage.h"
#include "ExportMeasures.h"
#include "ExportPipeline.h"
#include "ExportStats.h"
#include "FrameTimes.h"
#include "LimitFile.h"
#include "OutputFile.h"
#include "SigmfExport.h"
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

// The pipeline's settings from the options and the recording; says when the image is
// folded by default.
TPipelineSettings PipelineSettings(const TExportOptions& O, const TInput& In, std::ostream& Err)
{
    TPipelineSettings s;
    s.Spectrum = O.Spectrum;
    s.Spectrum.Inverted = O.Inverted.value_or(In.Header && In.Header->Inverted);
    s.First = Resolve(O.First, In.FirstFrame, "--first", In);
    s.Last = Resolve(O.Last, In.LastFrame, "--last", In);
    if (s.First > s.Last)
        throw TExportError(TExitCode::Usage, "--first lies after --last");
    const int64_t frames = s.Last - s.First + 1;
    s.Fold = O.Fold.value_or(1);
    if (!O.Fold && !O.Png.empty() && frames > MaxDefaultImageRows) {
        s.Fold = (frames + MaxDefaultImageRows - 1) / MaxDefaultImageRows;
        if (!O.Quiet)
            Err << Program << "folding " << s.Fold << " frames into each row to keep the "
                << "image at most " << MaxDefaultImageRows << " rows (--fold sets it)\n";
    }
    s.FoldMode = O.FoldMode;
    s.Threads = O.Threads > 0 ? O.Threads : int(std::max(1u, std::thread::hardware_concurrency()));
    return s;
}

// Refuses outputs that cannot be made: an image too tall, an output that is the recording.
void CheckOutputs(const TExportOptions& O, const TPipelineSettings& S)
{
    const int64_t rows = OutputRowCount(S.First, S.Last, S.Fold);
    if (!O.Png.empty() && rows > MaxImageRows)
        throw TExportError(TExitCode::Usage, "the image would have " + std::to_string(rows) +
                                                 " rows (at most " + std::to_string(MaxImageRows) +
                                                 "); give a larger --fold");
    for (const std::string* out : {&O.Png, &O.Csv, &O.Peaks, &O.Events, &O.Stats}) {
        if (!out->empty() && SameFile(*out, O.Input))
            throw TExportError(TExitCode::Usage, *out + " is the recording itself");
        if (!out->empty() && !O.Limits.empty() && SameFile(*out, O.Limits))
            throw TExportError(TExitCode::Usage, *out + " is the limits file");
    }
    if (!O.Sigmf.empty())
        for (const std::string& out : {SigmfNames(O.Sigmf).Data, SigmfNames(O.Sigmf).Meta})
            if (SameFile(out, O.Input))
                throw TExportError(TExitCode::Usage, out + " is the recording itself");
}

// The spectrum the band statistics see: all N bins, with the header's frequency offset and
// the inversion in force.
TBandSpectrum BandSpectrum(const TInput& In, const TPipelineSettings& S)
{
    TDXFFT fft;
    fft.setExponent(S.Spectrum.Exponent);
    fft.setLeakFunction(S.Spectrum.Window);
    return {1 << S.Spectrum.Exponent, S.Spectrum.Window, NoiseBandwidthBins(fft),
            In.Header ? In.Header->FreqOffset : 0.0, S.Spectrum.Inverted};
}

TImageSettings ImageSettings(const TExportOptions& O, const TInput& In, const TPipelineSettings& S)
{
    TImageSettings is;
    is.Span = SpanOf(S.Spectrum);
    is.Rows = OutputRowCount(S.First, S.Last, S.Fold);
    is.ZMin = O.MinDbm;
    is.ZMax = O.MaxDbm;
    is.LevelOffset = In.Header ? In.Header->LevelOffset : 0.0;
    is.FreqOffsetMHz = In.Header ? In.Header->FreqOffset : 0.0;
    char title[256];
    std::snprintf(title, sizeof title,
                  "%s   FFT %d points, %s, average %d%s   frames %lld .. %lld, %lld per row (%s)",
                  BaseName(O.Input).c_str(), is.Span.N, WindowName(O.Spectrum.Window),
                  O.Spectrum.Average, S.Spectrum.Inverted ? ", inverted" : "", (long long)S.First,
                  (long long)S.Last, (long long)S.Fold,
                  O.FoldMode == TFoldMode::Max ? "max" : "mean");
    is.Title = title;
    return is;
}

TSpkStampReader OpenStamps(const std::string& Input)
{
    try {
        return TSpkStampReader(Input);
    } catch (const ESpkError& e) {
        throw TExportError(TExitCode::InputFile, e.what());
    }
}

// The times of the frames, for every output that shows them: the stamps of the frames
// transformed are handed in, the few beyond them read here.
struct TTimeline
{
    TTimeline(const TExportOptions& O, const TInput& In)
        : Stamps(OpenStamps(O.Input)),
          Times(In.FirstFrame, In.LastFrame, [this](int64_t Frame) { return Stamps(Frame); })
    {
    }
    TSpkStampReader Stamps;
    TFrameTimes Times;
};

// The level table. Every row gets the time of its first frame.
class TTable
{
public:
    TTable(const TExportOptions& O, const TInput& In, const TSpan& Span, TFrameTimes& Times)
        : FTimes(Times), FFile(O.Csv),
          FWriter(FFile.Stream(), O.Csv, Span, In.Header ? In.Header->FreqOffset : 0.0)
    {
    }
    void Add(const TOutputRow& Row)
    {
        FWriter.WriteRow(Row, FTimes.TimeOf(Row.FirstFrame), FTimes.Stamped(Row.FirstFrame));
    }
    TOutputFile& Output() { return FFile; }

private:
    TFrameTimes& FTimes;
    TOutputFile FFile;
    TCsvWriter FWriter;
};

// Rows for the image, which is laid out on another thread while the first rows are done:
// until it is ready they wait here, up to a bound.
class TImageRows
{
public:
    TImageRows(std::shared_future<void> Ready, const std::unique_ptr<TExportImage>& Image,
               int Length)
        : FReady(std::move(Ready)), FImage(Image), FLength(size_t(Length))
    {
    }
    void Add(const TOutputRow& Row)
    {
        if (!FShown && (FEarlyLevels.size() * sizeof(float) >= MaxEarlyBytes ||
                        FReady.wait_for(std::chrono::seconds(0)) == std::future_status::ready))
            Flush();
        if (FShown) {
            FImage->AddRow(Row);
            return;
        }
        FEarly.push_back(Row);
        FEarlyLevels.insert(FEarlyLevels.end(), Row.Levels, Row.Levels + FLength);
    }
    // Waits for the image (rethrowing its failure) and gives it the rows that waited.
    void Flush()
    {
        if (FShown)
            return;
        FReady.get();
        for (size_t r = 0; r < FEarly.size(); ++r) {
            FEarly[r].Levels = FEarlyLevels.data() + r * FLength;
            FImage->AddRow(FEarly[r]);
        }
        FEarly = {};
        FEarlyLevels = {};
        FShown = true;
    }

private:
    std::shared_future<void> FReady;
    const std::unique_ptr<TExportImage>& FImage;
    size_t FLength;
    bool FShown = false;
    std::vector<TOutputRow> FEarly;
    std::vector<float> FEarlyLevels;
};

// A file without a header is taken for a recording on trust; a stamp the program would
// never write says it probably is none. Said once, for the first such record.
class TStampCheck
{
public:
    TStampCheck(const TExportOptions& O, const TInput& In, TProgress& Progress)
        : FOn(!In.Header && !O.Quiet), FInput(O.Input), FProgress(Progress)
    {
    }
    void Frames(int64_t First, int Count, const double* Stamps)
    {
        for (int f = 0; FOn && f < Count; ++f)
            if (!IsPlausibleStamp(Stamps[f])) {
                FProgress.Say(std::string(Program) +
                              "warning: " + ImplausibleStampWarning(FInput, First + f, Stamps[f]));
                FOn = false;
            }
    }

private:
    bool FOn;
    std::string FInput;
    TProgress& FProgress;
};

// The outputs of one export.
struct TOutputs
{
    std::optional<TTimeline> Timeline;
    std::optional<TTable> Table;
    std::optional<TImageRows> Image;
    std::optional<TPeakTable> Peaks;
    std::optional<TLimitEvents> Events;
    std::optional<TStatsTable> Stats;
};

// Where the pipeline's frames and rows go. What is known of the frame times goes once no
// output needs it: rows come in order, as do the frames checked against the limits.
TPipelineOutput OutputTo(TStampCheck& Check, TOutputs& Outs, TProgress& Progress)
{
    TPipelineOutput out;
    out.Frames = [&](int64_t First, int Count, const double* Stamps) {
        if (Outs.Timeline)
            Outs.Timeline->Times.Note(First, Stamps, Count);
        Check.Frames(First, Count, Stamps);
    };
    const bool timedRows = Outs.Table || Outs.Peaks || Outs.Stats;
    if (timedRows || Outs.Image)
        out.Row = [&Outs, timedRows](const TOutputRow& Row) {
            if (Outs.Table)
                Outs.Table->Add(Row);
            if (Outs.Peaks)
                Outs.Peaks->Add(Row);
            if (Outs.Stats)
                Outs.Stats->Add(Row);
            if (Outs.Image)
                Outs.Image->Add(Row);
            if (timedRows)
                Outs.Timeline->Times.Forget(Row.FirstFrame);
        };
    if (Outs.Peaks) {
        out.MeasureRow = [&Outs](int Thread, const TOutputRow& Row, std::byte* Result) {
            Outs.Peaks->Measure(Thread, Row, Result);
        };
        out.RowResultBytes = Outs.Peaks->ResultBytes();
    }
    if (Outs.Stats) {
        out.AddFrame = [&Outs](int Accumulator, const float* Magnitudes) {
            Outs.Stats->AddFrame(Accumulator, Magnitudes);
        };
        out.EndRow = [&Outs](int Accumulator, std::byte* Result) {
            Outs.Stats->EndRow(Accumulator, Result);
        };
        out.FramesResultBytes = Outs.Stats->ResultBytes();
    }
    if (Outs.Events) {
        out.MeasureFrame = [&Outs](int Thread, int64_t, const float* Magnitudes,
                                   std::byte* Result) {
            Outs.Events->Measure(Thread, Magnitudes, Result);
        };
        out.FrameResultBytes = Outs.Events->ResultBytes();
        out.FramesMeasured = [&Outs, timedRows](int64_t First, int Count,
                                                const std::byte* Results) {
            Outs.Events->Frames(First, Count, Results);
            if (!timedRows)
                Outs.Timeline->Times.Forget(First + Count - 1);
        };
    }
    out.Progress = [&](int64_t Done) { Progress.Update(Done); };
    return out;
}

// Starts the GUI and lays out the image, telling the rows waiting for it through Ready;
// returns its failure, which they get too.
std::exception_ptr LayOutImage(const std::function<void()>& StartGui,
                               const TImageSettings* Settings, std::unique_ptr<TExportImage>& Image,
                               std::promise<void>& Ready)
{
    try {
        if (Settings) {
            if (StartGui)
                StartGui();
            Image = std::make_unique<TExportImage>(*Settings);
        }
        Ready.set_value();
        return nullptr;
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        Ready.set_exception(error);
        return error;
    }
}

// One export: the recording opened and the settings worked out, then a stage for each kind of
// output that sets it up (its file created under a temporary name), then the passes over the
// frames: one that makes the spectra for every output that shows them, while the image is laid
// out, and one of the raw frames for SigMF. Only when every output is complete does any of
// them get its name.
class TExportRun
{
public:
    TExportRun(const TExportOptions& Options, std::ostream& Err);
    void Run(bool ShowProgress, const std::function<void()>& StartGui);

private:
    // Setting up: the limits read, then a stage for each kind of output, the frame times
    // before the outputs that show them.
    void ReadLimits();
    void StartImage();
    void StartTimeline();
    void StartTable();
    void StartPeaks();
    void StartEvents();
    void StartStats();
    void StartSigmf();
    // The passes over the frames.
    void MakeSpectra(TStampCheck& Check, TProgress& Progress,
                     const std::function<void()>& StartGui);
    void SaveImage();
    void WriteSigmf(TStampCheck& Check, TProgress& Progress, int64_t Done);
    void Commit();

    const TExportOptions& FOptions;
    std::ostream& FErr;
    TInput FIn;
    TPipelineSettings FSettings;
    std::optional<TLimits> FLimits;
    TOutputs FOuts;
    std::unique_ptr<TOutputFile> FPngFile;
    std::optional<TImageSettings> FImageSettings;
    std::promise<void> FLaidOut;
    std::unique_ptr<TExportImage> FImage;
    std::optional<TSigmfExport> FSigmf;
};

TExportRun::TExportRun(const TExportOptions& Options, std::ostream& Err)
    : FOptions(Options), FErr(Err)
{
    OpenInput(Options, FIn, Err);
    FSettings = PipelineSettings(Options, FIn, Err);
    CheckOutputs(Options, FSettings);
    if (!Options.Stats.empty())
        TStatsTable::Check(Options.Bands, BandSpectrum(FIn, FSettings));
}

void TExportRun::Run(bool ShowProgress, const std::function<void()>& StartGui)
{
    // Before any file is made: a limits file that cannot be read leaves no output behind.
    ReadLimits();
    StartImage();
    StartTimeline();
    StartTable();
    StartPeaks();
    StartEvents();
    StartStats();
    StartSigmf();
    const bool spectra = FPngFile || FOuts.Table || FOuts.Peaks || FOuts.Events || FOuts.Stats;
    const int64_t frames = FSettings.Last - FSettings.First + 1;
    TProgress progress(FErr, ShowProgress && !FOptions.Quiet,
                       frames * (int(spectra) + int(bool(FSigmf))));
    TStampCheck check(FOptions, FIn, progress);
    if (spectra)
        MakeSpectra(check, progress, StartGui);
    SaveImage();
    WriteSigmf(check, progress, spectra ? frames : 0);
    Commit();
}

// Throws TExportError (LimitsFile) for a limits file that cannot be read.
void TExportRun::ReadLimits()
{
    if (FOptions.Events.empty())
        return;
    try {
        FLimits = ReadLimitsFile(FOptions.Limits);
    } catch (const ELimitFileError& error) {
        throw TExportError(TExitCode::LimitsFile, error.what());
    }
}

// The image's rows wait for its layout, which is done on this thread while the frames are
// transformed.
void TExportRun::StartImage()
{
    if (FOptions.Png.empty())
        return;
    FPngFile = std::make_unique<TOutputFile>(FOptions.Png);
    FImageSettings = ImageSettings(FOptions, FIn, FSettings);
    FOuts.Image.emplace(FLaidOut.get_future().share(), FImage, SpanOf(FSettings.Spectrum).Length);
}

void TExportRun::StartTimeline()
{
    if (!FOptions.Csv.empty() || !FOptions.Peaks.empty() || !FOptions.Events.empty() ||
        !FOptions.Stats.empty())
        FOuts.Timeline.emplace(FOptions, FIn);
}

void TExportRun::StartTable()
{
    if (!FOptions.Csv.empty())
        FOuts.Table.emplace(FOptions, FIn, SpanOf(FSettings.Spectrum), FOuts.Timeline->Times);
}

// The rows keep the magnitudes the peak search needs, and the bins beyond the span its rules
// look at.
void TExportRun::StartPeaks()
{
    if (FOptions.Peaks.empty())
        return;
    FSettings.MarginBins = TPeakTable::MarginBins();
    FSettings.RowMagnitudes = true;
    const TPeakTable::TSettings peaks{SpanOf(FSettings.Spectrum),
                                      FSettings.Spectrum.Inverted,
                                      FIn.Header ? FIn.Header->FreqOffset : 0.0,
                                      FSettings.Spectrum.Window,
                                      FOptions.PeakCount,
                                      FOptions.PeakMinDbm.value_or(FOptions.MinDbm),
                                      FSettings.Threads};
    FOuts.Peaks.emplace(FOptions.Peaks, peaks, FOuts.Timeline->Times);
}

void TExportRun::StartEvents()
{
    if (FOptions.Events.empty())
        return;
    TLimitEvents::TSettings e;
    e.Limits = std::move(*FLimits);
    e.Grid = {SpanOf(FSettings.Spectrum).N, FIn.Header ? FIn.Header->FreqOffset : 0.0,
              FIn.Header ? FIn.Header->LevelOffset : 0.0, FSettings.Spectrum.Inverted};
    e.Window = FSettings.Spectrum.Window;
    e.HoldOffSeconds = FOptions.HoldOffSeconds;
    e.Threads = FSettings.Threads;
    e.Input = FOptions.Input;
    e.RecordingFirst = FIn.FirstFrame;
    e.RecordingLast = FIn.LastFrame;
    FOuts.Events.emplace(FOptions.Events, e, FOuts.Timeline->Times);
}

// The band statistics see every frame before the averaging, whatever the span shows.
void TExportRun::StartStats()
{
    if (FOptions.Stats.empty())
        return;
    FOuts.Stats.emplace(FOptions.Stats,
                        TStatsTable::TSettings{FOptions.Bands, BandSpectrum(FIn, FSettings),
                                               FOptions.OccupancyDb, FSettings.Threads},
                        FOuts.Timeline->Times);
}

// The SigMF files take the raw frames: a pass of their own, with no transform.
void TExportRun::StartSigmf()
{
    if (!FOptions.Sigmf.empty())
        FSigmf.emplace(FOptions.Sigmf);
}

// The frames are transformed on another thread from the start, while this one starts the GUI
// and lays out the image (fonts take a tenth of a short export).
void TExportRun::MakeSpectra(TStampCheck& Check, TProgress& Progress,
                             const std::function<void()>& StartGui)
{
    std::exception_ptr transformError;
    std::thread transform([&] {
        try {
            RunPipeline(FIn.File, FSettings, OutputTo(Check, FOuts, Progress));
            if (FOuts.Events)
                FOuts.Events->Finish();
            if (FOuts.Image)
                FOuts.Image->Flush();
        } catch (...) {
            transformError = std::current_exception();
        }
    });
    const std::exception_ptr layoutError =
        LayOutImage(StartGui, FImageSettings ? &*FImageSettings : nullptr, FImage, FLaidOut);
    transform.join();
    if (layoutError)
        std::rethrow_exception(layoutError);
    if (transformError) {
        try {
            std::rethrow_exception(transformError);
        } catch (const ESpkError& e) {
            throw TExportError(TExitCode::InputFile, e.what());
        }
    }
}

void TExportRun::SaveImage()
{
    if (!FImage)
        return;
    FImage->Finish();
    FImage->Save(FPngFile->TemporaryName(), FSettings.Threads);
}

// After the spectra when those are asked for too, on the same frames; Done is the progress so
// far.
void TExportRun::WriteSigmf(TStampCheck& Check, TProgress& Progress, int64_t Done)
{
    if (!FSigmf)
        return;
    FSigmf->Write(
        {FIn.File, FOptions.Input, FIn.Header, FSettings.First, FSettings.Last},
        [&](int64_t First, int Count, const double* Stamps) { Check.Frames(First, Count, Stamps); },
        [&](int64_t Frames) { Progress.Update(Done + Frames); });
}

void TExportRun::Commit()
{
    std::vector<TOutputFile*> files;
    if (FOuts.Table)
        files.push_back(&FOuts.Table->Output());
    if (FOuts.Peaks)
        files.push_back(&FOuts.Peaks->Output());
    if (FOuts.Events)
        files.push_back(&FOuts.Events->Output());
    if (FOuts.Stats)
        files.push_back(&FOuts.Stats->Output());
    if (FPngFile)
        files.push_back(FPngFile.get());
    if (FSigmf)
        files.insert(files.end(), {&FSigmf->Data(), &FSigmf->Meta()});
    CommitAll(files);
}

} // namespace

int RunExport(const TExportOptions& Options, std::ostream& Err, bool Progress,
              const std::function<void()>& StartGui)
{
    try {
        TExportRun(Options, Err).Run(Progress, StartGui);
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
