#include "ExportImage.h"

#include "DateTimeU.h"
#include "ExportError.h"
#include "ImageLayout.h"

#include <QFile>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef QUILLEX_WITH_ZLIB
#include "PngWriter.h"
#include "Workers.h"
#else
#include <QImageWriter>
#endif

namespace quillex {

namespace {

constexpr int Pad = 6;
constexpr int TickLength = 6;
constexpr int LabelGap = 3;      // between a tick and its text, and between time labels
constexpr int FrequencyGap = 12; // least room between two frequency labels
constexpr int ScaleWidth = 256;

QString Text(const std::string& S)
{
    return QString::fromStdString(S);
}

std::string DbmText(double Value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f dBm", Value);
    return text;
}

} // namespace

QFont TExportImage::LabelFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(12);
    return font;
}

TExportImage::TExportImage(const TImageSettings& Settings) : FSettings(Settings), FFont(LabelFont())
{
    FColours.SetRange(Settings.ZMin, Settings.ZMax);
    const QFontMetrics metrics(FFont);
    FLineHeight = metrics.height();
    const int timeWidth = std::max(metrics.horizontalAdvance(QStringLiteral("00:00:00")),
                                   metrics.horizontalAdvance(QStringLiteral("0000-00-00")));
    FLeft = Pad + timeWidth + LabelGap + TickLength + 1;
    // A dated time label ends above the frequency axis's unit (see DrawTimeAxis); an image
    // of a few rows moves its waterfall down to leave room above for it.
    FTop = Pad + FLineHeight + Pad + FLineHeight +
           std::max(0, FLineHeight + LabelGap - Pad - TickLength - static_cast<int>(Settings.Rows));
    const auto ticks = FrequencyTicks(
        Settings.Span, Settings.FreqOffsetMHz,
        [&](const std::string& S) { return metrics.horizontalAdvance(Text(S)); }, FrequencyGap);
    int widestTick = 0;
    for (const auto& t : ticks)
        widestTick = std::max(widestTick, metrics.horizontalAdvance(Text(t.Text)));
    FAxisY = FTop + static_cast<int>(Settings.Rows);
    FScaleY = FAxisY + TickLength + LabelGap + FLineHeight + Pad;
    const int height = FScaleY + FLineHeight + Pad;
    const int scaleEnd =
        FLeft + metrics.horizontalAdvance(Text(DbmText(-200))) * 2 + ScaleWidth + 4 * LabelGap;
    const int width = std::max({FLeft + Settings.Span.Length + widestTick / 2 + Pad, scaleEnd + Pad,
                                Pad * 2 + metrics.horizontalAdvance(Text(Settings.Title))});
    FImage = QImage(width, height, QImage::Format_RGB888);
    if (FImage.isNull())
        throw TExportError(TExitCode::Failure, "Not enough memory for an image of " +
                                                   std::to_string(width) + " x " +
                                                   std::to_string(height) + " pixels");
    FImage.fill(Qt::white);
}

void TExportImage::AddRow(const TOutputRow& Row)
{
    if (Row.Index < 0 || Row.Index >= FSettings.Rows)
        return;
    uchar* line = FImage.scanLine(FTop + static_cast<int>(Row.Index)) + 3 * FLeft;
    for (int x = 0; x < FSettings.Span.Length; ++x) {
        const uint32_t pixel = FColours.LevelToPixel(RoundLevelFast(Row.Levels[x]), 0);
        line[3 * x] = static_cast<uchar>(pixel >> 16);
        line[3 * x + 1] = static_cast<uchar>(pixel >> 8);
        line[3 * x + 2] = static_cast<uchar>(pixel);
    }
    if (IsFrameStamp(Row.Stamp))
        FStamps.emplace_back(Row.Index, Row.Stamp);
}

void TExportImage::Finish()
{
    QPainter p(&FImage);
    p.setFont(FFont);
    p.setPen(Qt::black);
    p.drawText(Pad, Pad, FImage.width() - 2 * Pad, FLineHeight, Qt::AlignLeft | Qt::AlignTop,
               Text(FSettings.Title));
    DrawTimeAxis(p);
    DrawFrequencyAxis(p);
    DrawColourScale(p);
}

void TExportImage::DrawTimeAxis(QPainter& P)
{
    const int axisX = FLeft - 1;
    P.drawLine(axisX, FTop, axisX, FAxisY - 1);
    const int textRight = axisX - TickLength - LabelGap;
    // Labels end a gap above the frequency axis's labels, whose unit stands in this margin.
    const int64_t bottom = FSettings.Rows + TickLength;
    for (const TTimeLabel& label : PlaceTimeLabels(FStamps, FLineHeight, LabelGap, bottom)) {
        const int row = FTop + static_cast<int>(label.Row);
        P.drawLine(axisX - TickLength, row, axisX - 1, row);
        const int top = FTop + static_cast<int>(label.Top);
        P.drawText(0, top, textRight, FLineHeight, Qt::AlignRight | Qt::AlignTop,
                   Text(FormatDateTime("hh:nn:ss", label.Stamp)));
        if (label.ShowDate)
            P.drawText(0, top + FLineHeight, textRight, FLineHeight, Qt::AlignRight | Qt::AlignTop,
                       Text(FormatDateTime("yyyy-mm-dd", label.Stamp)));
    }
}

void TExportImage::DrawFrequencyAxis(QPainter& P)
{
    const QFontMetrics metrics(FFont);
    P.drawLine(FLeft, FAxisY, FLeft + FSettings.Span.Length - 1, FAxisY);
    const auto ticks = FrequencyTicks(
        FSettings.Span, FSettings.FreqOffsetMHz,
        [&](const std::string& S) { return metrics.horizontalAdvance(Text(S)); }, FrequencyGap);
    const int textTop = FAxisY + TickLength + LabelGap;
    // The unit ends before the first label, which a wide offset ("1234.567") pushes
    // left of the waterfall.
    int unitRight = FLeft - TickLength - LabelGap - 1;
    int freeFrom = 0;
    bool labelled = false;
    for (const TFrequencyTick& tick : ticks) {
        const int x = FLeft + tick.X;
        P.drawLine(x, FAxisY + 1, x, FAxisY + TickLength);
        const QString text = Text(tick.Text);
        const int w = metrics.horizontalAdvance(text);
        const int left = x - w / 2;
        if (left < freeFrom) // a span too narrow for every label keeps the first ones
            continue;
        P.drawText(left, textTop, w, FLineHeight, Qt::AlignLeft | Qt::AlignTop, text);
        if (!labelled)
            unitRight = std::min(unitRight, left - LabelGap);
        labelled = true;
        freeFrom = left + w + LabelGap;
    }
    const QString unit = QStringLiteral("MHz");
    P.drawText(0, textTop, unitRight, FLineHeight, Qt::AlignRight | Qt::AlignTop, unit);
}

void TExportImage::DrawColourScale(QPainter& P)
{
    const QFontMetrics metrics(FFont);
    const QString low = Text(DbmText(double(FSettings.ZMin) + FSettings.LevelOffset));
    const QString high = Text(DbmText(double(FSettings.ZMax) + FSettings.LevelOffset));
    int x = FLeft;
    P.drawText(x, FScaleY, metrics.horizontalAdvance(low), FLineHeight, Qt::AlignLeft, low);
    x += metrics.horizontalAdvance(low) + 2 * LabelGap;
    // The bar shows every palette entry from black to red, left to right.
    const TSpektroPaletteTables& palette = SpektroPalette();
    for (int i = 0; i < ScaleWidth; ++i) {
        const int p = i * SpektroPaletteLast / (ScaleWidth - 1);
        P.setPen(QColor(palette.RedTable[p], palette.GreenTable[p], palette.BlueTable[p]));
        P.drawLine(x + i, FScaleY + 2, x + i, FScaleY + FLineHeight - 2);
    }
    P.setPen(Qt::black);
    P.drawRect(x - 1, FScaleY + 1, ScaleWidth + 1, FLineHeight - 2);
    x += ScaleWidth + 2 * LabelGap;
    P.drawText(x, FScaleY, metrics.horizontalAdvance(high), FLineHeight, Qt::AlignLeft, high);
}

void TExportImage::Save(const std::string& Path, int Threads) const
{
    std::FILE* out = std::fopen(Path.c_str(), "wb");
    if (out == nullptr)
        throw TExportError(TExitCode::OutputFile,
                           "Cannot write " + Path + ": " + std::strerror(errno));
    const bool written = WritePng(FImage, out, Threads);
    const int error = errno;
    if (std::fclose(out) != 0 || !written)
        throw TExportError(TExitCode::OutputFile,
                           "Cannot write " + Path + ": " +
                               std::strerror(written ? errno : (error != 0 ? error : EIO)));
}

#ifdef QUILLEX_WITH_ZLIB
bool WritePng(const QImage& Image, std::FILE* Out, int Threads)
{
    if (Image.format() != QImage::Format_RGB888)
        return WritePng(Image.convertToFormat(QImage::Format_RGB888), Out, Threads);
    TWorkers workers(Threads);
    return WritePngStrips({Image.constBits(), Image.width(), Image.height(), Image.bytesPerLine()},
                          workers, Out);
}
#else
bool WritePng(const QImage& Image, std::FILE* Out, int)
{
    QFile file;
    if (!file.open(Out, QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, "png");
    writer.setQuality(85); // zlib level 1
    return writer.write(Image) && file.flush();
}
#endif

} // namespace quillex
