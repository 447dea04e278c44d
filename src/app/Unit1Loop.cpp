#include "Unit1.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <span>

#include "DateTimeU.h"
#include "FrameProcessor.h"
#include "LabelSchedule.h"
#include "SpektroNeu.h"
#include "Unit1Channel.h"
#include "Unit1Limits.h"
#include "Unit1Markers.h"
#include "dxHisto.h"

namespace {
constexpr int TickerLimit = 10;
const QString TimeLabelFormat = QStringLiteral("hh:nn:ss");
// Records between index labels, about two seconds of a fast scan.
constexpr int64_t IndexLabelRecords = 50;
} // namespace

void TForm1::Timer1Timer()
{
    if (Reconfiguring)
        return;
    {
        // A playback stops at its end before its last frame is shown: the run's episodes end
        // after that frame, as they do after every tick of a stopped run.
        struct TTick
        {
            bool& Flag;
            explicit TTick(bool& F) : Flag(F) { Flag = true; }
            ~TTick() { Flag = false; }
        } tick(InTick);
        TakeFrame();
    }
    if (!BtnStartStop->isChecked())
        Limits->RunEnded();
}

void TForm1::TakeFrame()
{
    if (RBSlow->isChecked()) {
        ScanTicker += QLatin1Char('*');
        if (ScanTicker.size() > TickerLimit)
            ScanTicker = QStringLiteral(" ");
        SetStatusText(4, ScanTicker);
    }

    if (PlaybackMode) {
        if (!ReadPlaybackFrame())
            return;
    } else if (DebugMode) {
        quillex::SynthesizeDebugBlock(SampleBlock.data(), 2 * FftSize(), FDebugRandom);
    } else {
        Receiver.ReceiverReadBlock(SampleBlock.data());
    }

    StampFrame();

    if (RBSlow->isChecked()) {
        const double now = FClock.Now();
        if (quillex::IsDue(now, NextScanDue)) {
            ProcessFrame();
            NextScanDue = now + ScanInterval;
        }
    } else {
        ProcessFrame();
    }
}

void TForm1::StampFrame()
{
    if (PlaybackMode) {
        // Stamps decades apart tell no time: the records' indexes mark the rows instead.
        if (PlaybackStampsImplausible) {
            if (PlaybackRecord % IndexLabelRecords == 0)
                Spektro->AddTimeText(QStringLiteral("#%1").arg(PlaybackRecord));
        } else if (FrameStamp > 0.0) {
            Spektro->AddTimeMark(TimeLabelFormat, FrameStamp);
        }
        return;
    }
    const double now = FClock.Now();
    FrameTime = now;
    FrameElapsed = FClock.Elapsed() / 86400.0;
    if (quillex::IsDue(now, NextLabelDue)) {
        FrameStamp = now;
        Spektro->AddTimeMark(TimeLabelFormat, FrameStamp);
        NextLabelDue = FrameStamp + LabelInterval;
    } else {
        FrameStamp = 0.0;
    }
}

void TForm1::ProcessFrame()
{
    ConfigureRecipe();
    const int64_t index = PlaybackMode ? PlaybackRecord : LiveFrame;
    const quillex::TFrameTime time = TimeOfFrame();
    // A frame the FFT cannot take is dropped (the recipe's vectors always follow its size).
    if (!Recipe.Process(SampleBlock.data(), index, time))
        return;
    ++LiveFrame;
    const int n = FftSize();
    Channel->FrameProcessed(std::span<const float>(Recipe.Magnitudes(), size_t(n)));
    Measure->FrameProcessed();
    Limits->FrameProcessed();
    Histo->SetSeriesData(Recipe.Levels(), n, 1);

    const int length = static_cast<int>(WaterfallLine.size());
    const int start = std::clamp(ViewStartBin, 0, std::max(0, n - length));
    std::copy_n(Recipe.Levels() + start, std::min(length, n), WaterfallLine.begin());
    if (!WaterfallLine.empty()) {
        MarkWaterfallJump();
        Spektro->AddLine(std::span<const float>(WaterfallLine));
    }

    Recording.LogEpisodes(Recipe.LimitStep());
    Recording.Frame({FrameStamp, time, SampleBlock.data(), Recipe.Beyond()});
    Limits->FrameRecorded();
    if (Recording.Continuous().IsOpen() && RecordFrames++ == 0)
        RecordStart = FClock.Elapsed();
    if (OnFrameProcessed)
        OnFrameProcessed();
}

quillex::TFrameTime TForm1::TimeOfFrame()
{
    if (!PlaybackMode)
        return {FrameTime, FrameElapsed};
    const double time =
        Recipe.WatchesLimits() || Recording.Alarms().Active() ? Limits->PlaybackTime() : 0.0;
    return {time, time};
}

void TForm1::RunLive()
{
    if (BtnStartStop->isChecked() && RBSync->isChecked()) {
        RBFast->setEnabled(false);
        RBSlow->setEnabled(false);
        LabelInterval = quillex::SecondsToDays(1.0);
        NextLabelDue = FClock.Now();
        RunSyncLoop(false);
    } else if (BtnStartStop->isChecked()) {
        Timer1->start();
        RBSync->setEnabled(false);
        if (RBFast->isChecked())
            RBSlow->setEnabled(false);
        else
            RBFast->setEnabled(false);
    } else {
        Timer1->stop();
        if (RBSync->isChecked())
            SESpeedChange();
        RBFast->setEnabled(true);
        RBSlow->setEnabled(true);
        RBSync->setEnabled(true);
        if (BtnRecord->isChecked()) {
            BtnRecord->setChecked(false);
            BtnRecordClick();
        }
        SetStatusText(4, QString());
    }
}

void TForm1::RunSyncLoop(bool Playback)
{
    // Frames run back to back; the event processing after each one keeps the window
    // alive and delivers the click that ends the loop.
    while (BtnStartStop->isChecked()) {
        StoppUhr1.Start();
        Timer1Timer();
        QCoreApplication::processEvents();
        const double t = StoppUhr1.Stop();
        AvgFrameTime = (1000.0 * t + 31.0 * AvgFrameTime) / 32.0;
        SetStatusText(2, QStringLiteral("%1 FramesPerSec")
                             .arg(quillex::RoundHalfEven(1000.0 / (AvgFrameTime + 1.0))));
        if (Playback)
            LblAkt->setText(QStringLiteral("Pos: %1").arg(PB->value()));
    }
}
