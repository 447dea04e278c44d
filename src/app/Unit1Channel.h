#pragma once

#include <QStringList>
#include <optional>
#include <span>

#include "ChannelMeter.h"
#include "dxColors.h"

class QDoubleSpinBox;
class QWidget;
class TForm1;
class TIniFile;
class TMarkerReadout;

// The window's band measurements, on a read-out line of their own under the markers': the power
// of the band between the two markers with its occupied bandwidth, or of a channel of the
// "Channel" width around marker 1, shaded on the plot; the noise density of the visible span and
// each marker's level above the noise in the window's RBW; and whether levels are at the input.
// On the live trace the channel is averaged in power as the display averages; on a hold it is
// taken from the hold the markers sit on. The arithmetic is the core's (TChannelMeter).
class TChannelTools
{
public:
    static constexpr double DefaultChannelKHz = 10.0;
    static constexpr TColor ShadeColor = clWhite;

    explicit TChannelTools(TForm1& Form);
    ~TChannelTools();
    TChannelTools(const TChannelTools&) = delete;
    TChannelTools& operator=(const TChannelTools&) = delete;

    // Built with the window's layout: the read-out line and the "Channel" field.
    QWidget* BuildReadout(QWidget* Parent);
    QDoubleSpinBox* BuildChannelField(QWidget* Parent);
    // After the markers are built: their read-out brings this one along.
    void Connect();

    // Every processed frame, its unaveraged magnitudes (N of them), before the markers follow.
    void FrameProcessed(std::span<const float> Magnitudes);
    // The texts and the shading anew: the markers, the span or a frame have changed.
    void Show();
    // The noise of the visible span in one bin's noise bandwidth, dBm without the level offset;
    // NaN before the first frame.
    double NoiseBinDbm() const { return FMeter.NoiseBinDbm(); }

    // The channel's width in the section "Panel" (Ini null: no file).
    void LoadSettings(const TIniFile* Ini);
    void SaveSettings(TIniFile& Ini) const;
    bool SettingsChanged() const;

    TMarkerReadout* Readout = nullptr;
    QDoubleSpinBox* SEChannel = nullptr;

private:
    struct TConfiguration
    {
        int N = 0;
        TDXLeakType Window = wnHanning;
        int Averaging = 1;
        bool Inverted = false;
        float FreqOffset = 0;
        bool operator==(const TConfiguration&) const = default;
    };
    void CheckConfiguration();
    // The plot's visible span, MHz as displayed.
    quillex::TBand VisibleBand() const;
    // The channel measured on the trace the markers sit on.
    quillex::TBandResult OnTrace();
    QStringList Texts(const std::optional<quillex::TBand>& Band, bool Between);

    TForm1& FForm;
    quillex::TChannelMeter FMeter;
    TConfiguration FConfiguration;
    bool FConfigurationKnown = false;
    double FSnapshot = DefaultChannelKHz;
};
