#include "DayImage.h"

#include "DateTimeU.h"
#include "ImageLayout.h"
#include "PngWriter.h"
#include "Workers.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace quillex::monitor {

namespace {

// The exporter's spacing, so both kinds of image read alike.
constexpr int Pad = 6;
constexpr int TickLength = 6;
constexpr int LabelGap = 3;
constexpr int FrequencyGap = 12;
constexpr int ScaleWidth = 256;
constexpr double SecondsPerDay = 86400.0;

uint32_t PaletteRgb(int Entry)
{
    const TSpektroPaletteTables& t = SpektroPalette();
    return uint32_t(t.RedTable[size_t(Entry)]) << 16 | uint32_t(t.GreenTable[size_t(Entry)]) << 8 |
           t.BlueTable[size_t(Entry)];
}

std::string DbmText(double Value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f dBm", Value);
    return text;
}

void Line(TRgbImage& Image, int X0, int Y0, int X1, int Y1, uint32_t Rgb)
{
    for (int y = std::min(Y0, Y1); y <= std::max(Y0, Y1); ++y)
        for (int x = std::min(X0, X1); x <= std::max(X0, X1); ++x)
            Image.Set(x, y, Rgb);
}

} // namespace

TDayImage::TDayImage(const TDayImageSettings& Settings, const TTextRenderer& Text)
    : FSettings(Settings)
{
    FColours.SetRange(Settings.ZMin, Settings.ZMax);
    for (int e = 0; e < SpektroPaletteSize; ++e)
        FEntries[PaletteRgb(e)] = e;
    FRows = int(std::ceil(SecondsPerDay / Settings.RowSeconds - 1e-9));
    FLineHeight = Text.LineHeight();
    FLeft = Pad + Text.Width("00:00") + LabelGap + TickLength + 1;
    FTop = Pad + FLineHeight + Pad + FLineHeight / 2 + 1;
    const TSpan span{Settings.Columns, 0, Settings.Columns};
    int widestTick = 0;
    for (const TFrequencyTick& t : FrequencyTicks(
             span, Settings.FreqOffsetMHz, [&](const std::string& S) { return Text.Width(S); },
             FrequencyGap))
        widestTick = std::max(widestTick, Text.Width(t.Text));
    const int axisY = FTop + FRows;
    const int scaleY = axisY + TickLength + LabelGap + FLineHeight + Pad;
    const int height = scaleY + FLineHeight + Pad;
    const int scaleEnd = FLeft + Text.Width(DbmText(-200)) * 2 + ScaleWidth + 4 * LabelGap;
    const int width = std::max({FLeft + Settings.Columns + widestTick / 2 + Pad, scaleEnd + Pad,
                                FLeft + Text.Width("quillex-monitor 0000-00-00") + Pad});
    FImage.Resize(width, height, Background);
    FImage.Fill(FLeft, FTop, Settings.Columns, FRows, NoData);
    DrawTitle(Text);
    DrawTimeAxis(Text);
    DrawFrequencyAxis(Text);
    DrawColourScale(Text);
}

int TDayImage::RowOf(double Wall) const
{
    const double seconds = (Wall - FSettings.Day) * SecondsPerDay;
    if (!(seconds >= 0 && seconds < SecondsPerDay))
        return -1;
    return std::min(int(seconds / FSettings.RowSeconds), FRows - 1);
}

int TDayImage::EntryOf(const uint8_t* Pixel) const
{
    const auto it = FEntries.find(uint32_t(Pixel[0]) << 16 | uint32_t(Pixel[1]) << 8 | Pixel[2]);
    return it == FEntries.end() ? -1 : it->second;
}

void TDayImage::AddSpectrum(double Wall, const float* Levels, int Count)
{
    const int row = RowOf(Wall);
    if (row < 0 || Count <= 0)
        return;
    const int columns = FSettings.Columns;
    uint8_t* pixels = FImage.Row(FTop + row) + 3 * FLeft;
    for (int c = 0; c < columns; ++c) {
        // The bins this column covers: several when the spectrum has more bins than columns.
        const int first = int(int64_t(c) * Count / columns);
        const int last = std::max(first, int(int64_t(c + 1) * Count / columns) - 1);
        float level = Levels[first];
        for (int k = first + 1; k <= last; ++k)
            level = std::max(level, Levels[k]);
        const int entry = FColours.PaletteIndex(RoundLevelFast(level));
        uint8_t* p = pixels + 3 * c;
        if (entry > EntryOf(p)) {
            const uint32_t rgb = PaletteRgb(entry);
            p[0] = uint8_t(rgb >> 16);
            p[1] = uint8_t(rgb >> 8);
            p[2] = uint8_t(rgb);
        }
    }
}

bool TDayImage::Adopt(const TRgbImage& Earlier)
{
    if (Earlier.Width != FImage.Width || Earlier.Height != FImage.Height)
        return false;
    for (int r = 0; r < FRows; ++r)
        std::copy_n(Earlier.Row(FTop + r) + 3 * FLeft, 3 * FSettings.Columns,
                    FImage.Row(FTop + r) + 3 * FLeft);
    return true;
}

void TDayImage::DrawTitle(const TTextRenderer& Text)
{
    Text.Draw(FImage, FLeft, Pad, "quillex-monitor " + FormatDateTime("yyyy-mm-dd", FSettings.Day),
              0x000000);
}

void TDayImage::DrawTimeAxis(const TTextRenderer& Text)
{
    const int axisX = FLeft - 1;
    Line(FImage, axisX, FTop, axisX, FTop + FRows - 1, 0);
    // Hours apart so that the labels keep a gap between them.
    const double rowsPerHour = 3600.0 / FSettings.RowSeconds;
    int step = 24;
    for (const int hours : {1, 2, 3, 4, 6, 12, 24})
        if (rowsPerHour * hours >= FLineHeight + LabelGap) {
            step = hours;
            break;
        }
    for (int hour = 0; hour < 24; hour += step) {
        const int row = FTop + int(hour * rowsPerHour);
        Line(FImage, axisX - TickLength, row, axisX - 1, row, 0);
        char label[16];
        std::snprintf(label, sizeof label, "%02d:00", hour);
        const int right = axisX - TickLength - LabelGap;
        Text.Draw(FImage, right - Text.Width(label), row - FLineHeight / 2, label, 0);
    }
}

void TDayImage::DrawFrequencyAxis(const TTextRenderer& Text)
{
    const int axisY = FTop + FRows;
    Line(FImage, FLeft, axisY, FLeft + FSettings.Columns - 1, axisY, 0);
    const TSpan span{FSettings.Columns, 0, FSettings.Columns};
    const int textTop = axisY + TickLength + LabelGap;
    int unitRight = FLeft - TickLength - LabelGap - 1;
    int freeFrom = 0;
    bool labelled = false;
    for (const TFrequencyTick& tick : FrequencyTicks(
             span, FSettings.FreqOffsetMHz, [&](const std::string& S) { return Text.Width(S); },
             FrequencyGap)) {
        const int x = FLeft + tick.X;
        Line(FImage, x, axisY + 1, x, axisY + TickLength, 0);
        const int w = Text.Width(tick.Text);
        const int left = x - w / 2;
        if (left < freeFrom)
            continue;
        Text.Draw(FImage, left, textTop, tick.Text, 0);
        if (!labelled)
            unitRight = std::min(unitRight, left - LabelGap);
        labelled = true;
        freeFrom = left + w + LabelGap;
    }
    Text.Draw(FImage, unitRight - Text.Width("MHz"), textTop, "MHz", 0);
}

void TDayImage::DrawColourScale(const TTextRenderer& Text)
{
    const int y = FTop + FRows + TickLength + LabelGap + FLineHeight + Pad;
    const std::string low = DbmText(double(FSettings.ZMin) + FSettings.LevelOffsetDb);
    const std::string high = DbmText(double(FSettings.ZMax) + FSettings.LevelOffsetDb);
    int x = FLeft;
    Text.Draw(FImage, x, y, low, 0);
    x += Text.Width(low) + 2 * LabelGap;
    for (int i = 0; i < ScaleWidth; ++i)
        Line(FImage, x + i, y + 2, x + i, y + FLineHeight - 2,
             PaletteRgb(i * SpektroPaletteLast / (ScaleWidth - 1)));
    Line(FImage, x - 1, y + 1, x + ScaleWidth, y + 1, 0);
    Line(FImage, x - 1, y + FLineHeight - 1, x + ScaleWidth, y + FLineHeight - 1, 0);
    Line(FImage, x - 1, y + 1, x - 1, y + FLineHeight - 1, 0);
    Line(FImage, x + ScaleWidth, y + 1, x + ScaleWidth, y + FLineHeight - 1, 0);
    x += ScaleWidth + 2 * LabelGap;
    Text.Draw(FImage, x, y, high, 0);
}

std::string WritePngReplacing(const TRgbImage& Image, const std::string& Path)
{
    const size_t slash = Path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : Path.substr(0, slash);
    std::string temp = folder + "/.png-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return std::string("cannot write beside ") + Path + ": " + std::strerror(errno);
    // Readable as any other output (mkstemp makes it the owner's only).
    ::fchmod(fd, 0644);
    std::FILE* out = ::fdopen(fd, "wb");
    if (out == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        return "cannot write " + temp + ": " + std::strerror(error);
    }
    TWorkers workers(1);
    errno = 0;
    bool written = WritePngStrips(
        {Image.Pixels.data(), Image.Width, Image.Height, ptrdiff_t(Image.Width) * 3}, workers, out);
    int error = errno;
    // On disk before it takes the name: a crash then leaves the old image, not an empty one.
    written = written && ::fsync(::fileno(out)) == 0;
    if (!written && error == 0)
        error = errno;
    if (std::fclose(out) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(temp.c_str(), Path.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(temp.c_str());
        return "cannot write " + Path + ": " + std::strerror(error != 0 ? error : EIO);
    }
    return {};
}

bool ReadPng(const std::string& Path, TRgbImage& Image)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, Path.c_str()) == 0)
        return false;
    png.format = PNG_FORMAT_RGB;
    TRgbImage image;
    image.Width = int(png.width);
    image.Height = int(png.height);
    image.Pixels.resize(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, image.Pixels.data(), 0, nullptr) == 0) {
        png_image_free(&png);
        return false;
    }
    Image = std::move(image);
    return true;
}

} // namespace quillex::monitor
