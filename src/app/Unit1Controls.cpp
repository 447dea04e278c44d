#include "Unit1.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "DateTimeU.h"
#include "FrameProcessor.h"
#include "FrequencySpan.h"
#include "LabelSchedule.h"
#include "SpektroNeu.h"
#include "Unit1Limits.h"
#include "Unit1Markers.h"
#include "Unit1Panel.h"
#include "dxHisto.h"

namespace {

constexpr int SpectrumKHz = 40000;

// Clears a flag when the scope ends, also on an error, so that ticks never stay inert.
class TFlagGuard
{
public:
    explicit TFlagGuard(bool& Flag) : FFlag(Flag) { FFlag = true; }
    ~TFlagGuard() { FFlag = false; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;

private:
    bool& FFlag;
};

} // namespace

double ParseOffset(const QString& Text)
{
    // Either separator is accepted, so fractions can be typed whatever the locale.
    QString normal = Text.trimmed();
    normal.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = normal.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        throw std::runtime_error(
            QStringLiteral("'%1' ist kein gültiger Gleitkommawert").arg(Text).toStdString());
    return value;
}

bool OffsetKeyPasses(QChar Key)
{
    const char16_t code = Key.unicode();
    return (code >= u'0' && code <= u'9') || code < 33 || code == u',' || code == u'.' ||
           code == u'-';
}

double TForm1::ButtonSpanKHz(int Index) const
{
    bool ok = false;
    const int mhz = RGBW->ItemText(Index).left(2).trimmed().toInt(&ok);
    if (!ok)
        throw std::runtime_error(QStringLiteral("'%1' ist kein gültiger Integerwert")
                                     .arg(RGBW->ItemText(Index).left(2))
                                     .toStdString());
    return 1000.0 * mhz;
}

void TForm1::ShowSpan(double Centre, double Span)
{
    const int n = FftSize();
    SpanKHz = quillex::ClampSpanKHz(Span, n);
    CentreKHz = quillex::ClampCentreKHz(Centre, SpanKHz);
    const double half = SpanKHz / 2.0;
    Histo->setViewXCurrentMin(static_cast<float>(CentreKHz - half));
    Histo->setViewXCurrentMax(static_cast<float>(CentreKHz + half));
    Histo->setViewXGap(static_cast<float>(quillex::SpanGridStepKHz(SpanKHz)));
    {
        // The scroll bar's whole kHz hold the centre; it moves in them.
        const QSignalBlocker blocker(SBFrq);
        SBFrq->setMinimum(static_cast<int>(std::ceil(half)));
        SBFrq->setMaximum(static_cast<int>(std::floor(SpectrumKHz - half)));
        SBFrq->setValue(quillex::RoundHalfEven(CentreKHz));
    }
    // The button of the span, or none for a typed one.
    int button = -1;
    for (int i = 0; i < RGBW->ItemCount(); ++i)
        if (ButtonSpanKHz(i) == SpanKHz)
            button = i;
    {
        TFlagGuard showing(ShowingSpan);
        RGBW->setItemIndex(button);
    }
    UpdateWaterfallGeometry();
    SetStatusText(1, LocalFormat("Center: %0.2f MHz", SBFrq->value() / 1000.0));
    Panel->SpanShown();
}

void TForm1::ConfigureRecipe()
{
    static constexpr TDXLeakType windows[] = {wnRectangle, wnHanning, wnHamming, wnBlackman};
    const int index = RGFenster->ItemIndex();
    // An item beyond the four keeps the window in use.
    Recipe.Configure({SEFft->value(),
                      index >= 0 && index <= 3 ? windows[index] : Recipe.Settings().Window,
                      SEAvg->value(), CBInverted->isChecked(), FreqOffset, LevelOffset});
}

void TForm1::FrameSettingsChanged()
{
    // Holds gathered under other settings are cleared and the limits resampled at once, not
    // only with the next frame.
    UpdateWaterfallGeometry();
    Histo->RefreshData();
}

void TForm1::UpdateWaterfallGeometry()
{
    ConfigureRecipe();
    const int n = FftSize();
    const quillex::TSpanBins bins = quillex::SpanBins(CentreKHz, SpanKHz, n);
    const auto length = static_cast<std::size_t>(bins.Length);
    if (WaterfallLine.size() != length)
        WaterfallLine.assign(length, 0.0f);
    ViewStartBin = bins.Start;
    WaterfallMinKHz = static_cast<float>(CentreKHz - SpanKHz / 2.0);
    WaterfallMaxKHz = static_cast<float>(CentreKHz + SpanKHz / 2.0);
    UpdateWaterfallAxis();
    Measure->ViewChanged();
    Limits->ViewChanged();
}

// The waterfall's columns show the bins the plot shows at the same x: its line's bins are
// placed on the plot's frequency axis, which runs a bin further than the last one and starts
// where the plot area does, not where the waterfall area does.
void TForm1::UpdateWaterfallAxis()
{
    const int plotWidth = Histo->width() - Histo->GapLeft() - Histo->GapRight();
    const double spanKHz = double(WaterfallMaxKHz) - WaterfallMinKHz;
    if (plotWidth <= 0 || !(spanKHz > 0.0))
        return;
    const double binKHz = double(SpectrumKHz) / FftSize();
    const int plotLeft = Histo->mapTo(this, QPoint(Histo->GapLeft(), 0)).x();
    const int waveLeft = Spektro->WaveBox()->mapTo(this, QPoint(0, 0)).x();
    const double kHzPerPixel = spanKHz / plotWidth;
    const double leftKHz = WaterfallMinKHz + (waveLeft - plotLeft) * kHzPerPixel;
    Spektro->SetValueAxis(leftKHz / binKHz - ViewStartBin, kHzPerPixel / binKHz);
}

void TForm1::RGBWClick()
{
    if (ShowingSpan)
        return;
    const int index = RGBW->ItemIndex();
    // Plot, waterfall and scroll bar read an unusable index alike, as the whole spectrum;
    // the group shows that item too.
    if (index < 0 || index > 3) {
        RGBW->setItemIndex(3);
        return;
    }
    // A zoomed plot shows a part of the old span; the new span replaces the zoom.
    Histo->LeaveZoom();
    const double centre = (double(Histo->ViewXCurrentMin()) + Histo->ViewXCurrentMax()) / 2.0;
    ShowSpan(centre, ButtonSpanKHz(index));
}

void TForm1::SBFrqChange()
{
    Histo->LeaveZoom();
    ShowSpan(SBFrq->value(), SpanKHz);
}

void TForm1::RGAttClick()
{
    const int index = RGAtt->ItemIndex();
    if (!DebugMode && index >= 0)
        Receiver.ReceiverSetAttenuator(index);
}

void TForm1::CBDitherClick()
{
    Receiver.ReceiverSetDither(CBDither->isChecked());
}

void TForm1::CBPreampClick()
{
    Receiver.ReceiverSetPreamp(CBPreamp->isChecked());
}

void TForm1::RGFensterClick()
{
    FrameSettingsChanged();
}

QString TForm1::FftStatusText() const
{
    const int n = FftSize();
    return QStringLiteral("FFT: %1 Points").arg(n) +
           LocalFormat("    Resolution:%6.3f kHz", double(SpectrumKHz) / n);
}

void TForm1::SEFftChange()
{
    TFlagGuard reconfiguring(Reconfiguring);
    WaitMs(50);
    ConfigureRecipe();
    const int n = FftSize();
    SetStatusText(0, FftStatusText());
    // The plot spreads its n samples evenly from the nominal minimum to the nominal maximum;
    // bin k lies at k * 40000 / n kHz, so the last one is a bin below 40000. With 40000 as
    // maximum the cursor read a carrier on bin 512 of 2048 at 10.005 instead of 10.000 MHz.
    Histo->setViewXNominalMax(static_cast<float>(SpectrumKHz - double(SpectrumKHz) / n));
    // A span narrower than the new size allows widens; the zoom of the old span ends.
    if (quillex::ClampSpanKHz(SpanKHz, n) != SpanKHz) {
        Histo->LeaveZoom();
        ShowSpan(CentreKHz, SpanKHz);
    } else {
        UpdateWaterfallGeometry();
    }
}

bool TForm1::SEFftKeyPress(QWidget* Sender, QChar Key)
{
    if (!OffsetKeyPasses(Key))
        return false;
    if (Key.unicode() == 13 && (Sender == EdtFrqOffset || Sender == EdtLevelOffset)) {
        ApplyOffsetFields();
        return false;
    }
    return true;
}

void TForm1::ApplyOffsetFields()
{
    FreqOffset = static_cast<float>(ParseOffset(EdtFrqOffset->text()));
    EnteredLevelOffset = static_cast<float>(ParseOffset(EdtLevelOffset->text()));
    LevelOffset = static_cast<float>(double(EnteredLevelOffset) + Panel->InputLevelDb());
    SizeFrequencyPanel();
    ReselectBandwidth();
    UpdateLegend();
    Panel->ApplyScale();
}

void TForm1::ApplyLevelOffset()
{
    Panel->ShowInputLevels();
    const auto offset = static_cast<float>(double(EnteredLevelOffset) + Panel->InputLevelDb());
    if (offset == LevelOffset)
        return;
    // Levels shown change, not the span: no re-selection that could move the centre.
    LevelOffset = offset;
    UpdateWaterfallGeometry();
    SBMinChange();
    Panel->ApplyScale();
}

void TForm1::ReselectBandwidth()
{
    const int index = RGBW->ItemIndex();
    // A typed span has no button: it is shown anew as it is.
    if (index < 0) {
        Histo->LeaveZoom();
        ShowSpan(CentreKHz, SpanKHz);
        return;
    }
    if (index >= 3) {
        RGBW->setItemIndex(index - 1);
        RGBW->setItemIndex(index);
    } else {
        RGBW->setItemIndex(index + 1);
        RGBW->setItemIndex(index);
    }
}

void TForm1::SESpeedChange()
{
    if (SESpeed->cleanText().isEmpty())
        return;
    const int value = SESpeed->value();
    if (value == 0) {
        SESpeed->setValue(1);
        return;
    }
    if ((RBFast->isChecked() && value > 100) || (RBSlow->isChecked() && value > 60)) {
        SESpeed->setValue(RBFast->isChecked() ? 100 : 60);
        return;
    }
    const double now = FClock.Now();
    if (RBFast->isChecked()) {
        Timer1->setInterval(1000 / value);
        LabelInterval =
            quillex::SecondsToDays(quillex::LabelIntervalSeconds(quillex::TPacing::Fast, value));
        AvgFrameTime = 1000.0 / value;
        NextLabelDue = quillex::FirstAlignedLabelDue(now, LabelInterval);
    } else if (RBSlow->isChecked()) {
        Timer1->setInterval(1000);
        ScanInterval = quillex::SecondsToDays(value);
        LabelInterval =
            quillex::SecondsToDays(quillex::LabelIntervalSeconds(quillex::TPacing::Slow, value));
        NextLabelDue = now + LabelInterval;
        NextScanDue = now;
    }
}

void TForm1::RBFastClick()
{
    GBSpeed->setTitle(QStringLiteral("Framerate"));
    SESpeed->setMaximum(100);
    SESpeedChange();
    SetStatusText(4, QString());
    SESpeed->setEnabled(!RBSync->isChecked());
}

void TForm1::RBSlowClick()
{
    GBSpeed->setTitle(QStringLiteral("Scaninterval [s]"));
    SESpeed->setMaximum(60);
    SESpeedChange();
    SESpeed->setEnabled(!RBSync->isChecked());
}

void TForm1::RBSyncClick()
{
    SESpeed->setEnabled(!RBSync->isChecked());
}
