#pragma once

#include "SpektroNeuMapping.h"
#include "TextRenderer.h"

#include <string>
#include <unordered_map>

// The waterfall of one local day: a row per time slot of RowSeconds from midnight, each the
// max-fold of the spectra of the intervals that began in that slot, with the exporter's time
// axis (hours), frequency axis and colour scale around it. Rows without data are grey, so a
// gap in the receiver's frames shows where it was. The axes depend on the day's layout only,
// so they are drawn once; a row is coloured when its spectrum comes.
namespace quillex::monitor {

struct TDayImageSettings
{
    double Day = 0;                // local midnight, days since 1899-12-30
    int Columns = 0;               // spectrum bins across, in displayed order
    double RowSeconds = 60;        // a row per this many seconds of the day
    float ZMin = -120, ZMax = -80; // levels (without the level offset) at the palette's ends
    double LevelOffsetDb = 0, FreqOffsetMHz = 0;
};

class TDayImage
{
public:
    static constexpr uint32_t NoData = 0xC0C0C0;
    static constexpr uint32_t Background = 0xFFFFFF;

    TDayImage(const TDayImageSettings& Settings, const TTextRenderer& Text);

    const TDayImageSettings& Settings() const { return FSettings; }
    int Rows() const { return FRows; }
    int WaterfallLeft() const { return FLeft; }
    int WaterfallTop() const { return FTop; }
    // The row of a local wall-clock time, -1 when it lies on another day.
    int RowOf(double Wall) const;

    // Folds a spectrum (Count levels in dBm without the level offset, displayed order) into the
    // row of Wall by the maximum: each column takes the largest level of the bins it covers.
    void AddSpectrum(double Wall, const float* Levels, int Count);
    // Takes the rows of an image written earlier today with the same layout (the monitor ran
    // before); false, nothing taken, when the sizes differ.
    bool Adopt(const TRgbImage& Earlier);

    const TRgbImage& Image() const { return FImage; }

private:
    void DrawTitle(const TTextRenderer& Text);
    void DrawTimeAxis(const TTextRenderer& Text);
    void DrawFrequencyAxis(const TTextRenderer& Text);
    void DrawColourScale(const TTextRenderer& Text);
    // The palette entry of a pixel, -1 for one that is no palette colour (no data).
    int EntryOf(const uint8_t* Pixel) const;

    TDayImageSettings FSettings;
    TLevelToColor FColours;
    std::unordered_map<uint32_t, int> FEntries; // palette colour -> highest entry with it
    TRgbImage FImage;
    int FRows = 0;
    int FLeft = 0, FTop = 0, FLineHeight = 0;
};

// Writes Image as a PNG beside Path and renames it over Path, so a reader sees the old image
// or the new one, never a part. Returns an empty text, or the reason it failed (nothing of a
// half-written file is left).
std::string WritePngReplacing(const TRgbImage& Image, const std::string& Path);
// Reads a PNG as 8-bit RGB; false when there is none or it cannot be read.
bool ReadPng(const std::string& Path, TRgbImage& Image);

} // namespace quillex::monitor
