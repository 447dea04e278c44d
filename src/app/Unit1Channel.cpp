// Channel power, occupied bandwidth, noise and SNR on the main window's second read-out line.

#include "Unit1Channel.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSpinBox>
#include <cmath>

#include "IniFileU.h"
#include "MarkerReadout.h"
#include "Unit1.h"
#include "Unit1Markers.h"
#include "Unit1Panel.h"
#include "dxHisto.h"

namespace {

// A value rounded to Decimals, with a zero that prints without a sign of its own.
double Rounded(double Value, int Decimals)
{
    const double scale = std::pow(10.0, Decimals);
    const double r = std::nearbyint(Value * scale) / scale;
    return r == 0.0 ? 0.0 : r;
}

QString Number(const char* Format, double Value, int Decimals)
{
    return LocalFormat(Format, Rounded(Value, Decimals));
}

} // namespace

TChannelTools::TChannelTools(TForm1& Form) : FForm(Form) {}

TChannelTools::~TChannelTools() = default;

QWidget* TChannelTools::BuildReadout(QWidget* Parent)
{
    Readout = new TMarkerReadout(Parent);
    Readout->setObjectName(QStringLiteral("ChannelReadout"));
    Readout->hide();
    return Readout;
}

QDoubleSpinBox* TChannelTools::BuildChannelField(QWidget* Parent)
{
    SEChannel = new QDoubleSpinBox(Parent);
    SEChannel->setObjectName(QStringLiteral("SEChannel"));
    SEChannel->setRange(0.1, 40000.0);
    SEChannel->setDecimals(1);
    SEChannel->setValue(DefaultChannelKHz);
    SEChannel->setSuffix(QStringLiteral(" kHz"));
    SEChannel->setToolTip(QStringLiteral("Width of the channel around marker 1"));
    return SEChannel;
}

void TChannelTools::Connect()
{
    FForm.Measure->OnMarkersShown = [this] { Show(); };
    QObject::connect(SEChannel, &QDoubleSpinBox::valueChanged, &FForm, [this] {
        FForm.Guard([this] {
            Show();
            FForm.Histo->RefreshData();
        });
    });
}

void TChannelTools::CheckConfiguration()
{
    const quillex::TFrameRecipe& recipe = FForm.Recipe;
    const quillex::TFrameSettings& s = recipe.Settings();
    const TConfiguration now{recipe.N(), s.Window, s.Averaging, s.Inverted, float(s.FreqOffsetMHz)};
    if (FConfigurationKnown && now == FConfiguration)
        return;
    FConfiguration = now;
    FConfigurationKnown = true;
    // The window's noise bandwidth is measured on its coefficients: once per configuration.
    FMeter.Configure({now.N, now.Window, quillex::NoiseBandwidthBins(recipe.FFT()), now.FreqOffset,
                      now.Inverted},
                     now.Averaging);
}

quillex::TBand TChannelTools::VisibleBand() const
{
    const double offset = FForm.FreqOffset;
    return {FForm.Histo->ViewXCurrentMin() / 1000.0 + offset,
            FForm.Histo->ViewXCurrentMax() / 1000.0 + offset};
}

void TChannelTools::FrameProcessed(std::span<const float> Magnitudes)
{
    CheckConfiguration();
    FMeter.SetSpan(VisibleBand());
    FMeter.Add(Magnitudes);
}

quillex::TBandResult TChannelTools::OnTrace()
{
    // The trace the markers read, as the recipe chooses it: the live one is averaged in power.
    const quillex::TFrameRecipe& recipe = FForm.Recipe;
    const float* trace = recipe.TraceMagnitudes();
    if (trace == recipe.Averages() || recipe.N() != FConfiguration.N)
        return FMeter.Channel();
    return FMeter.ChannelOn(std::span<const float>(trace, size_t(FConfiguration.N)));
}

void TChannelTools::Show()
{
    if (Readout == nullptr)
        return;
    CheckConfiguration();
    FMeter.SetSpan(VisibleBand());
    const quillex::TMarkerReading first = FForm.Measure->Reading(1),
                                  second = FForm.Measure->Reading(2);
    std::optional<quillex::TBand> band;
    if (first.Placed && second.Placed)
        band = quillex::TBand{first.MHz, second.MHz};
    else if (first.Placed)
        band = quillex::TBand{first.MHz - SEChannel->value() / 2000.0,
                              first.MHz + SEChannel->value() / 2000.0};
    FMeter.SetChannel(band);
    if (band)
        FForm.Histo->SetShade(float((band->LowMHz - FForm.FreqOffset) * 1000.0),
                              float((band->HighMHz - FForm.FreqOffset) * 1000.0), ShadeColor);
    else
        FForm.Histo->HideShade();
    const QStringList texts = Texts(band, second.Placed);
    Readout->SetTexts(texts);
    Readout->setVisible(!texts.isEmpty());
}

QStringList TChannelTools::Texts(const std::optional<quillex::TBand>& Band, bool Between)
{
    const double offset = FForm.LevelOffset;
    QStringList texts;
    if (Band) {
        const quillex::TBandResult r = OnTrace();
        const QString name =
            Between ? QStringLiteral("M1..M2")
                    : QStringLiteral("CH ") + Number("%0.1f kHz", SEChannel->value(), 1);
        if (r.Bins.Last < r.Bins.First)
            texts << name + QStringLiteral("  no bin inside");
        else if (std::isfinite(r.PowerDbm))
            texts << name + Number("  %0.2f dBm", r.PowerDbm + offset, 2) +
                         (Between ? Number("  OBW %0.2f kHz", r.ObwKHz, 2) : QString());
    }
    const double noise = FMeter.NoiseDbmHz();
    if (std::isfinite(noise)) {
        texts << Number("Noise %0.1f dBm/Hz", noise + offset, 1);
        for (int number = 1; number <= 2; ++number)
            if (const quillex::TMarkerReading r = FForm.Measure->Reading(number); r.Placed)
                texts << QStringLiteral("M%1").arg(number) +
                             Number(" SNR %0.1f dB", r.Dbm - (NoiseBinDbm() + offset), 1);
    }
    if (FForm.Panel->InputLevelsOn())
        texts << FForm.Panel->LblInputLevels->text();
    return texts;
}

void TChannelTools::LoadSettings(const TIniFile* Ini)
{
    const double kHz =
        Ini ? Ini->ReadFloat(TPanelTools::SettingsSection, "ChannelKHz", DefaultChannelKHz)
            : DefaultChannelKHz;
    SEChannel->setValue(std::isfinite(kHz) ? kHz : DefaultChannelKHz);
    FSnapshot = SEChannel->value();
}

void TChannelTools::SaveSettings(TIniFile& Ini) const
{
    Ini.WriteString(TPanelTools::SettingsSection, "ChannelKHz",
                    FormatFixed(SEChannel->value(), 1, SystemDecimalSeparator()));
}

bool TChannelTools::SettingsChanged() const
{
    return SEChannel->value() != FSnapshot;
}
