#pragma once

#include <QtGui>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <numbers>

#include "DateTimeU.h"
#include "ExportPipeline.h"
#include "FrameProcessor.h"
#include "FrameSpectrum.h"
#include "FuzzSupport.h"
#include "SpkFile.h"
#include "SpkRecordFile.h"
#include "WaterfallArea.h"
#include "dxFFT.h"

// Readable failure messages.
inline void PrintTo(const QString& Text, std::ostream* Out)
{
    *Out << '"' << Text.toStdString() << '"';
}

// A recording with known content: carriers on (or between) bins of an N-bin spectrum (the
// sample rate is 2N samples per N bins), each switched on for a range of frames, a
// little deterministic noise, and a time label on chosen frames. Frames are numbered by
// record, so behind a header the first frame is 1.
struct TCarrier
{
    double Bin;       // fractional for a tone between bins
    double Amplitude; // in sample units
    int64_t From = 0, To = INT64_MAX;
};

struct TRecordingPlan
{
    int N = 1024;
    int64_t Frames = 64;
    std::vector<TCarrier> Carriers{};
    std::function<double(int64_t Frame)> Stamp = [](int64_t) { return 0.0; };
    std::string Header{}; // "Offsets:..." text, or empty for none
};

inline std::string MakeRecordingBytes(const TRecordingPlan& Plan)
{
    std::string bytes;
    if (!Plan.Header.empty()) {
        bytes = Plan.Header;
        bytes.resize(quillex::FrameRecordSize, '\0');
    }
    std::vector<int16_t> block(quillex::SampleBlockSamples);
    std::string record(quillex::FrameRecordSize, '\0');
    uint32_t noise = 12345;
    // Frames are numbered by their record in the file, the header being record 0.
    const int64_t first = Plan.Header.empty() ? 0 : 1;
    for (int64_t f = first; f < first + Plan.Frames; ++f) {
        for (int i = 0; i < quillex::SampleBlockSamples; ++i) {
            noise = noise * 1664525u + 1013904223u;
            double v = double(int(noise >> 24) - 128) / 4.0; // +-32
            for (const TCarrier& c : Plan.Carriers)
                if (f >= c.From && f <= c.To)
                    v += c.Amplitude * std::cos(std::numbers::pi * c.Bin * i / Plan.N);
            block[size_t(i)] = static_cast<int16_t>(std::lround(v));
        }
        quillex::EncodeDataRecord(Plan.Stamp(f), block.data(),
                                  reinterpret_cast<uint8_t*>(record.data()));
        bytes += record;
    }
    return bytes;
}

inline void WriteBytes(const QString& Path, const std::string& Bytes)
{
    std::ofstream(Path.toStdString(), std::ios::binary) << Bytes;
}

inline QByteArray FileBytes(const QString& Path)
{
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the program shows for a cosine of Amplitude in sample units exactly on a bin, with
// every window as with Hann: the samples are doubled and the transform divides by N, so the
// bin holds Amplitude * sum(w) / N, summing Hann's 2N coefficients (symmetric over 2N - 1
// steps).
inline double OnBinLevel(double Amplitude, int N)
{
    double sum = 0;
    for (int n = 0; n < 2 * N; ++n)
        sum += 0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / (2 * N - 1));
    return 20 * std::log10(Amplitude * sum / N / 16384 + 1e-9);
}

// Tests that write recordings and exports into a folder of their own.
class ExportFolderTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(Dir.isValid()); }
    QString Path(const char* Name) const { return Dir.filePath(QString::fromLatin1(Name)); }
    QTemporaryDir Dir;
};

// The export program itself, as a user runs it.
struct TRun
{
    int Code = -1;
    QString Err, Out;
};

inline TRun RunExport(const QStringList& Args, const std::function<void()>& ChildSetup = {})
{
    QProcess process;
    if (ChildSetup)
        process.setChildProcessModifier(ChildSetup);
    process.start(QStringLiteral(QUILLEX_EXPORT_PATH), Args);
    process.waitForFinished(120000);
    TRun run;
    run.Code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Err = QString::fromLocal8Bit(process.readAllStandardError());
    run.Out = QString::fromLocal8Bit(process.readAllStandardOutput());
    return run;
}

// A run that must succeed.
inline TRun RunOk(const QStringList& Args, const std::function<void()>& ChildSetup = {})
{
    TRun run = RunExport(Args, ChildSetup);
    EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
    return run;
}

// A failed run as the program reports one: the exit code and one line on stderr, prefixed with
// the program's name, that says Text.
inline void ExpectFailure(const TRun& Run, int Code, const QString& Text)
{
    EXPECT_EQ(Run.Code, Code);
    EXPECT_EQ(Run.Err.count('\n'), 1) << Run.Err.toStdString();
    EXPECT_TRUE(Run.Err.startsWith("quillex-export: ") && Run.Err.contains(Text))
        << Run.Err.toStdString();
}

inline std::vector<std::vector<std::string>> ReadCsv(const QString& Path)
{
    return ReadCsvFile(Path.toStdString());
}

// Cells From .. To - 1 of a CSV line (as many as it has).
using TCells = std::vector<std::string>;
inline TCells Cells(const TCells& Line, size_t From, size_t To)
{
    return TCells(Line.begin() + ptrdiff_t(std::min(From, Line.size())),
                  Line.begin() + ptrdiff_t(std::min(To, Line.size())));
}

// The window's span rule: N / D bins from round((centre - half) / 40000 * N), kept inside.
inline int SpanStart(int N, int SpanMHz, int CentreKHz)
{
    const int length = N * SpanMHz / 40;
    const double start = std::nearbyint(double(CentreKHz - 500 * SpanMHz) / 40000.0 * N);
    return std::clamp(int(start), 0, N - length);
}

// Waterfall pixels are palette colours, and no palette colour but black is grey; text,
// axes and margins are black, grey or white.
inline bool Coloured(QRgb Pixel)
{
    return !(qRed(Pixel) == qGreen(Pixel) && qGreen(Pixel) == qBlue(Pixel));
}

// The window's way with a recording: one frame after the other through its FFT (Hann) and
// running average over all N bins, from record First on; Each sees every frame's averages.
inline void WindowAverages(const std::string& Bytes, int64_t First, int64_t Frames, int Exponent,
                           int Average,
                           const std::function<void(int64_t, const std::vector<float>&)>& Each)
{
    const int n = 1 << Exponent;
    TDXFFT fft;
    fft.setExponent(Exponent);
    fft.setLeakFunction(wnHanning);
    TDXVector* input = fft.CreateVector(2 * n);
    TDXComplexVector* output = fft.CreateComplexVector(n);
    std::vector<float> avg(size_t(n), 0.0f);
    std::vector<int16_t> block(quillex::SampleBlockSamples);
    for (int64_t f = First; f < First + Frames; ++f) {
        double stamp = 0;
        quillex::DecodeDataRecord(reinterpret_cast<const uint8_t*>(Bytes.data()) +
                                      f * quillex::FrameRecordSize,
                                  stamp, block.data());
        ASSERT_TRUE(quillex::TransformBlock(block.data(), fft, input, output));
        quillex::AverageMagnitudes(output->Real->Values, avg.data(), n, Average);
        Each(f, avg);
    }
}

// The rows a pipeline run hands on, with copies of their levels and magnitudes.
struct TCollectedRow
{
    quillex::TOutputRow Row;
    std::vector<float> Levels, Magnitudes;
};

inline std::vector<TCollectedRow> CollectRows(const quillex::TSpkRecordFile& File,
                                              const quillex::TPipelineSettings& S,
                                              quillex::TPipelineOutput Out = {})
{
    std::vector<TCollectedRow> rows;
    const int length = quillex::SpanOf(S.Spectrum).Length;
    Out.Row = [&](const quillex::TOutputRow& Row) {
        rows.push_back({Row, std::vector<float>(Row.Levels, Row.Levels + length),
                        std::vector<float>(Row.Magnitudes, Row.Magnitudes + Row.MagnitudeBins)});
    };
    quillex::RunPipeline(File, S, Out);
    return rows;
}
