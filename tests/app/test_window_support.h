#pragma once

#include <QtWidgets>
#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <span>
#include <tuple>
#include <vector>

#include "Clock.h"
#include "DateTimeU.h"
#include "Prompts.h"
#include "SpektroNeu.h"
#include "SpektroNeuLegend.h"
#include "SpkFile.h"
#include "Unit1.h"
#include "Unit1Channel.h"
#include "Unit1Limits.h"
#include "Unit1Markers.h"
#include "Unit1Panel.h"
#include "dxHisto.h"
#include "test_receiver_support.h"

// Readable failure messages.
inline std::ostream& operator<<(std::ostream& Out, const QString& Text)
{
    return Out << '"' << Text.toStdString() << '"';
}

// Key presses as the user types them, through the widget's event filters.
inline void PressKey(QWidget* Target, int Key, const QString& Text)
{
    QKeyEvent press(QEvent::KeyPress, Key, Qt::NoModifier, Text);
    QCoreApplication::sendEvent(Target, &press);
    QKeyEvent release(QEvent::KeyRelease, Key, Qt::NoModifier, Text);
    QCoreApplication::sendEvent(Target, &release);
}

// Runs the event loop for a while, so that timers fire.
inline void RunEvents(int Ms)
{
    QEventLoop loop;
    QTimer::singleShot(Ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// How far, in logical pixels, the waterfall's columns stray from the bins the plot shows at the
// same x, Length being the waterfall line's bins: each column must lie between the midpoints of
// its bin's place in the plot and its neighbours' places (the edge bins fill the rest), and the
// column under each bin's place must show a bin the plot draws within a pixel of it.
inline double WaterfallOffPlot(TForm1& Form, int Length)
{
    const double binKHz = 40000.0 / Form.Recipe.N();
    const int first = Form.ViewStartBin;
    // The centre of the pixel where the plot draws the line's bin j, in the window.
    const auto place = [&](int j) {
        const int x = Form.Histo->XToPixel(float((first + j) * binKHz));
        return Form.Histo->mapTo(&Form, QPoint(x, 0)).x() + 0.5;
    };
    const std::span<const std::int32_t> shown = Form.Spektro->ColumnIndex();
    const double ratio = Form.Spektro->Ratio();
    const int waveLeft = Form.Spektro->WaveBox()->mapTo(&Form, QPoint(0, 0)).x();
    double worst = 0;
    for (std::size_t c = 0; c < shown.size(); ++c) {
        const int j = shown[c];
        if (j < 0 || j >= Length)
            return HUGE_VAL;
        const double x = waveLeft + (double(c) + 0.5) / ratio;
        const double left = j > 0 ? (place(j - 1) + place(j)) / 2 : -HUGE_VAL;
        const double right = j < Length - 1 ? (place(j) + place(j + 1)) / 2 : HUGE_VAL;
        worst = std::max({worst, left - x, x - right});
    }
    for (int j = 0; j < Length; ++j) {
        const auto c = static_cast<std::ptrdiff_t>(std::floor((place(j) - waveLeft) * ratio));
        if (c >= 0 && c < std::ssize(shown))
            worst = std::max(worst, std::fabs(place(shown[std::size_t(c)]) - place(j)));
    }
    return worst;
}

// A widget's rectangle in its owner's coordinates, its window's by default.
inline QRect In(const QWidget* W, const QWidget* Owner = nullptr)
{
    return QRect(W->mapTo(Owner ? Owner : W->window(), QPoint(0, 0)), W->size());
}

// Exponent 12: a frame transforms all 8192 samples of a block into 4096 bins of 9.765625 kHz.
constexpr int N = 4096;
constexpr double BinMHz = 40.0 / N;

struct TTone
{
    double MHz;
    double Amplitude; // in samples
    double Phase = 0.7;
};

// The samples of tones at sample rate 80 MHz: x[n] = sum A cos(pi f n / 40 + phase), f in MHz,
// so a tone of f MHz lies at bin f * N / 40; with normal noise of the given deviation.
inline std::vector<int16_t> ToneBlock(const std::vector<TTone>& Tones, double Noise = 0,
                                      std::mt19937* Rng = nullptr)
{
    std::vector<int16_t> block(TForm1::BlockSamples);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int n = 0; n < TForm1::BlockSamples; ++n) {
        double v = 0;
        for (const TTone& t : Tones)
            v += t.Amplitude * std::cos(std::numbers::pi * t.MHz * n / 40.0 + t.Phase);
        if (Noise > 0)
            v += Noise * noise(*Rng);
        block[size_t(n)] = int16_t(std::clamp(std::lround(v), -32768L, 32767L));
    }
    return block;
}

// Hann over 2N samples, w[n] = 0.5 - 0.5 cos(2 pi n / (2N - 1)): the sums of w and w^2.
inline double HannSum(int Power)
{
    double sum = 0;
    for (int n = 0; n < 2 * N; ++n)
        sum += std::pow(0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / (2 * N - 1)), Power);
    return sum;
}

// What a bin shows for a tone of amplitude A lying on it, A * sum(w) / N, in dBm.
inline double OnBinDbm(double Amplitude)
{
    return 20 * std::log10(Amplitude * HannSum(1) / N / 16384 + 1e-9);
}

struct THeader
{
    double FreqOffset = 0, LevelOffset = 0;
    bool Inverted = false;
};

// A recording of the blocks, the i-th (from 1) stamped Stamp(i) or 0; without a header, record 0
// is a blank one (never played).
inline void WriteRecording(const QString& File, const std::vector<std::vector<int16_t>>& Blocks,
                           std::optional<THeader> Header = std::nullopt,
                           const std::function<double(int)>& Stamp = {})
{
    std::string bytes(std::size_t(quillex::FrameRecordSize) * (Blocks.size() + 1), '\0');
    auto* data = reinterpret_cast<uint8_t*>(bytes.data());
    if (Header) {
        uint8_t record[quillex::FrameRecordSize];
        quillex::FormatOffsetsHeader(Header->FreqOffset, Header->LevelOffset, Header->Inverted, '.',
                                     record);
        std::copy_n(record, sizeof record, data);
    }
    for (std::size_t i = 0; i < Blocks.size(); ++i)
        quillex::EncodeDataRecord(Stamp ? Stamp(int(i) + 1) : 0.0, Blocks[i].data(),
                                  data + (i + 1) * quillex::FrameRecordSize);
    std::ofstream(File.toStdString(), std::ios::binary) << bytes;
}

// A clock the test sets; starts at a fixed local moment. Advance moves both its times;
// setting Value moves the wall clock alone.
class TFakeClock : public TClock
{
public:
    double Value = quillex::EncodeDateTime(2026, 12, 6, 10, 0, 0);
    double Seconds = 1000;
    double Now() const override { return Value; }
    double Elapsed() const override { return Seconds; }
    void Advance(double Step) { Value += Step / 86400.0, Seconds += Step; }
};

// Prompts that record every text and answer from scripts: Cancel, an empty file name (a
// cancelled dialog) and no number when a script runs dry.
class TScriptedPrompts : public TPrompts
{
public:
    QStringList Messages, Errors, Questions, Warnings;
    std::deque<TAnswer> Answers;
    std::deque<QString> Names;
    std::deque<double> Numbers;
    std::vector<double> Offered; // the numbers AskNumber offered
    std::function<void()> OnQuestion, OnDialog, OnMessage;

    void ShowMessage(const QString& Text) override
    {
        Messages << Text;
        if (OnMessage)
            OnMessage();
    }
    void ShowError(const QString& Text) override { Errors << Text; }
    void ShowInformation(const QString& Title, const QString&) override { Messages << Title; }
    void ShowWarning(const QString& Text) override { Warnings << Text; }
    TAnswer AskYesNoCancel(const QString& Text) override
    {
        Questions << Text;
        if (OnQuestion)
            OnQuestion();
        return Next(Answers, TAnswer::Cancel);
    }
    QString SaveFileName(const QString&, const QString&, const QString&) override { return Dlg(); }
    QString OpenFileName(const QString&, const QString&, const QString&) override { return Dlg(); }
    QString FolderName(const QString&) override { return Dlg(); }
    std::optional<double> AskNumber(const QString& Label, double Offer, int) override
    {
        Questions << Label;
        Offered.push_back(Offer);
        return Numbers.empty() ? std::nullopt : std::optional(Next(Numbers, 0.0));
    }

private:
    template <typename T> static T Next(std::deque<T>& Script, T Otherwise)
    {
        if (Script.empty())
            return Otherwise;
        T next = Script.front();
        Script.pop_front();
        return next;
    }
    QString Dlg()
    {
        if (OnDialog)
            OnDialog();
        return Next(Names, QString());
    }
};

// A window started in a fresh folder against the simulated receiver (unpaced, traced).
class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale::c());
        ClearSimulatorVariables();
        ASSERT_TRUE(Dir.isValid());
        OldDir = QDir::currentPath();
        QDir::setCurrent(Dir.path());
        TracePath = Dir.filePath(QStringLiteral("trace.txt"));
        setenv("QUILLEX_SIM_TRACE", TracePath.toLocal8Bit().constData(), 1);
        setenv("QUILLEX_SIM_BLOCK_RATE", "0", 1);
    }

    void TearDown() override
    {
        Form.reset();
        QDir::setCurrent(OldDir);
        ClearSimulatorVariables();
        QLocale::setDefault(QLocale::c());
    }

    // Creates the window and runs the start-up tick at once instead of after 100 ms.
    void Start(const QStringList& Args = {})
    {
        Form = std::make_unique<TForm1>(Prompts, Clock, Args);
        Form->OnTerminate = [this](int Code) { TerminatedWith = Code; };
        Form->InitTimerTimer();
    }

    // Start, with the window on the screen and its layouts settled.
    void StartShown(const QStringList& Args = {})
    {
        Start(Args);
        Form->show();
        QCoreApplication::processEvents();
    }

    // Debug mode (synthetic frames) at exponent 12, after writing the settings file when given.
    void StartDebug4096(const char* Ini = nullptr)
    {
        if (Ini)
            WriteIni(Ini);
        Start({"DEBUG"});
        Form->SEFft->setValue(12);
        ASSERT_EQ(Form->Recipe.N(), N);
    }

    // The close the user triggers; true when the window accepted it.
    bool CloseWindow() { return Form->close(); }

    // The run state at a glance: each flag's name when it is on, "-" when it is off.
    QString Flags() const
    {
        QStringList text;
        for (const auto& [name, on] : {std::pair{"run", Form->BtnStartStop->isChecked()},
                                       std::pair{"timer", Form->Timer1->isActive()},
                                       std::pair{"record", Form->BtnRecord->isChecked()},
                                       std::pair{"sync", Form->RBSync->isEnabled()},
                                       std::pair{"playback", Form->BtnPlayback->isEnabled()}})
            text << QString::fromLatin1(on ? name : "-");
        return text.join(u' ');
    }

    static QByteArray ReadAll(const QString& Path)
    {
        QFile file(Path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QStringList Lines(const QString& File)
    {
        return QString(ReadAll(File)).split('\n', Qt::SkipEmptyParts);
    }
    QStringList Trace() const { return Lines(TracePath); }
    QString Calls() const { return Trace().join(u','); }
    int Reads() const
    {
        return static_cast<int>(Trace().filter(QStringLiteral("GetInputData")).size());
    }

    QString Path(const char* Name) const { return Dir.filePath(QString::fromLatin1(Name)); }
    // Switches playback on and loads the file through the dialog.
    void Load(const QString& File)
    {
        if (!Form->BtnPlayback->isChecked())
            Form->BtnPlayback->click();
        Prompts.Names.push_back(File);
        Form->BtnLoadFile->click();
    }
    // Plays the loaded file in "Harddisk sync": the loop returns at the file's end.
    void PlaySync()
    {
        Form->RBSync->setChecked(true);
        Form->BtnStartStop->click();
    }
    // Loads the file and plays it to its end, calling Watch after each frame.
    void PlayToEnd(const QString& File, const std::function<void()>& Watch = {})
    {
        Form->OnFrameProcessed = Watch;
        Load(File);
        PlaySync();
        Form->OnFrameProcessed = nullptr;
        ASSERT_FALSE(Form->BtnStartStop->isChecked());
    }
    // Record, with the file given in its dialog.
    void Record(const QString& File)
    {
        Prompts.Names.push_back(File);
        Form->BtnRecord->click();
    }

    QString IniPath() const { return Dir.filePath(QStringLiteral("Quillex.ini")); }

    void WriteIni(const char* Text) const { std::ofstream(IniPath().toStdString()) << Text; }
    QString ReadIni() const { return ReadAll(IniPath()); }

    QTemporaryDir Dir;
    QString OldDir;
    QString TracePath;
    TFakeClock Clock;
    TScriptedPrompts Prompts;
    std::unique_ptr<TForm1> Form;
    int TerminatedWith = 0;
};
