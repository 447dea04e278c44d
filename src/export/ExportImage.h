#pragma once

#include <QFont>
#include <QImage>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ExportOptions.h"
#include "ExportPipeline.h"
#include "SpektroNeuMapping.h"

namespace quillex {

struct TImageSettings
{
    TSpan Span;
    int64_t Rows = 0;
    float ZMin = -120.0f; // levels shown with the palette's first and last entry
    float ZMax = -80.0f;
    double LevelOffset = 0;   // added to the colour scale's texts, as the window's hints do
    double FreqOffsetMHz = 0; // added to the frequency labels
    std::string Title;
};

// The waterfall image of an export: white margins with a time axis on the left, the
// frequency axis and a colour scale below, a title above; the rows coloured by the
// window's palette and level scale. Needs a QGuiApplication (for the fonts).
class TExportImage
{
public:
    // Throws TExportError when the image cannot be held in memory.
    explicit TExportImage(const TImageSettings& Settings);

    // Colours row Row.Index and notes its time stamp.
    void AddRow(const TOutputRow& Row);
    // Draws axes, labels, title and scale; once, after the last row.
    void Finish();
    // Writes the PNG to Path (replacing it), compressed on Threads threads; throws
    // TExportError (OutputFile).
    void Save(const std::string& Path, int Threads = 1) const;

    const QImage& Image() const { return FImage; }
    int WaterfallLeft() const { return FLeft; }
    int WaterfallTop() const { return FTop; }
    int LineHeight() const { return FLineHeight; }
    static QFont LabelFont();

private:
    void DrawTimeAxis(class QPainter& P);
    void DrawFrequencyAxis(class QPainter& P);
    void DrawColourScale(class QPainter& P);

    TImageSettings FSettings;
    TLevelToColor FColours;
    QFont FFont;
    QImage FImage;
    int FLineHeight = 0;
    int FLeft = 0, FTop = 0;
    int FAxisY = 0, FScaleY = 0;
    std::vector<std::pair<int64_t, double>> FStamps;
};

// Writes Image as an 8-bit RGB PNG, compressed on Threads threads (counting the calling
// one); false on an error (errno tells which).
bool WritePng(const QImage& Image, std::FILE* Out, int Threads = 1);

} // namespace quillex
