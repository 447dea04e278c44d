#include "test_export_support.h"

#include "ExportImage.h"
#include "SpektroNeuMapping.h"

#include <map>

namespace {

class ExportImageTest : public ExportFolderTest
{
protected:
    // The image an export with Args writes, as RGB32 (null when there is none); its stderr
    // in Err.
    QImage Export(const QStringList& Args, QString* Err = nullptr)
    {
        const TRun run = RunOk(Args + QStringList{"--png", Path("out.png")});
        if (Err)
            *Err = run.Err;
        return QImage(Path("out.png")).convertToFormat(QImage::Format_RGB32);
    }
};

// Columns of Row whose pixels are the palette's last entry (pure red: at or above the
// level scale's maximum), relative to the waterfall's left edge.
std::vector<int> RedColumns(const QImage& Image, const QRect& Fall, int Row)
{
    std::vector<int> columns;
    for (int x = 0; x < Fall.width(); ++x)
        if (Image.pixel(Fall.left() + x, Fall.top() + Row) == qRgb(255, 0, 0))
            columns.push_back(x);
    return columns;
}

const auto NotWhite = [](QRgb Pixel) { return Pixel != qRgb(255, 255, 255); };
const auto Dark = [](QRgb Pixel) { return qGray(Pixel) < 128; };

// The box of the pixels in Area of Image that Is picks (a null rectangle when none is).
QRect Box(const QImage& Image, QRect Area, bool (*Is)(QRgb))
{
    Area &= Image.rect();
    QRect box;
    for (int y = Area.top(); y <= Area.bottom(); ++y)
        for (int x = Area.left(); x <= Area.right(); ++x)
            if (Is(Image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

// The pixels that are not white in Area of Image, cropped to their box.
QImage Ink(const QImage& Image, QRect Area)
{
    return Image.copy(Box(Image, Area, NotWhite));
}

// The ink of Text drawn alone in the labels' font.
QImage Drawn(const QString& Text)
{
    const QFont font = quillex::TExportImage::LabelFont();
    const int h = QFontMetrics(font).height();
    QImage alone(QFontMetrics(font).horizontalAdvance(Text) + 20, 2 * h, QImage::Format_RGB32);
    alone.fill(Qt::white);
    QPainter p(&alone);
    p.setFont(font);
    p.drawText(10, h, Text);
    p.end();
    return Ink(alone, alone.rect());
}

} // namespace

// The title names the recording and how it was exported: the transform's points, window and
// averaging, mirroring, the frames and their fold; the image is wide enough to show it whole
// (here the title is its widest part).
TEST_F(ExportImageTest, TitleSaysHowTheImageWasMade)
{
    const char* name = "a recording whose name is long.spk";
    WriteBytes(Path(name), MakeRecordingBytes({.N = 256, .Frames = 10}));
    const int h = QFontMetrics(quillex::TExportImage::LabelFont()).height();
    for (const auto& [options, title] : std::vector<std::pair<QString, QString>>{
             {"", "FFT 256 points, Hann, average 1   frames 0 .. 9, 1 per row (max)"},
             {"--window rect --average 3 --fold-mode mean",
              "FFT 256 points, rect, average 3   frames 0 .. 9, 1 per row (mean)"},
             {"--window hamming --inverted yes --first 2 --last 7 --fold 2",
              "FFT 256 points, Hamming, average 1, inverted   frames 2 .. 7, 2 per row (max)"},
             {"--window blackman --fold 3",
              "FFT 256 points, Blackman, average 1   frames 0 .. 9, 3 per row (max)"}}) {
        SCOPED_TRACE(options.toStdString());
        const QImage image = Export(QStringList{Path(name), "--fft-exponent", "8"} +
                                    options.split(' ', Qt::SkipEmptyParts));
        const QString text = QString(name) + "   " + title;
        EXPECT_EQ(Ink(image, QRect(0, 0, image.width(), 6 + h)), Drawn(text));
        EXPECT_EQ(image.width(),
                  12 + QFontMetrics(quillex::TExportImage::LabelFont()).horizontalAdvance(text));
    }
}

// 600 frames folded by 8 give 75 rows. With a Hann window a carrier on a bin reads its
// amplitude there (the factor 2 of the scaling against the window's gain of one half),
// 20*log10(8192/16384) = -6 dBm, and 6 dB less on the neighbouring bins; with the scale
// ending at -9 dBm only the carrier's own column is red. Its x is its bin less the span's
// first bin, mirrored (N-1-bin) when the spectrum is inverted.
TEST_F(ExportImageTest, HeightAfterFoldingAndCarrierColumns)
{
    WriteBytes(Path("c.spk"),
               MakeRecordingBytes(
                   {.N = 512, .Frames = 600, .Carriers = {{200, 8192.0}, {300, 8192.0, 300}}}));

    for (const bool inverted : {false, true}) {
        SCOPED_TRACE(inverted ? "inverted" : "upright");
        QString err;
        const QImage image = Export({Path("c.spk"), "--fft-exponent", "9", "--span-mhz", "20",
                                     "--centre-mhz", "15", "--fold", "8", "--min-dbm", "-200",
                                     "--max-dbm", "-9", "--inverted", inverted ? "yes" : "no"},
                                    &err);
        EXPECT_EQ(err, "");
        const QRect fall = WaterfallArea(image, 256);
        EXPECT_EQ(fall.height(), 75); // ceil(600 / 8)
        // Nothing drawn over it: the axes and their ticks lie outside.
        for (int y = fall.top(); y <= fall.bottom(); ++y)
            for (int x = fall.left(); x <= fall.right(); ++x)
                ASSERT_TRUE(Coloured(image.pixel(x, y))) << x << "," << y;

        const int start = SpanStart(512, 20, 15000);
        const auto x = [&](int Bin) { return (inverted ? 511 - Bin : Bin) - start; };
        EXPECT_EQ(RedColumns(image, fall, 10), std::vector<int>{x(200)});
        // Row 37 holds frames 296 .. 303: the second carrier is on in some, and the
        // maximum keeps it.
        std::vector<int> both{x(200), x(300)};
        std::sort(both.begin(), both.end());
        EXPECT_EQ(RedColumns(image, fall, 37), both);
        EXPECT_EQ(RedColumns(image, fall, 74), both);
    }

    // Without --fold, a PNG of more than 16384 frames is folded to at most that many rows,
    // and stderr says so. The recording grown by zero frames (sparse, no disk) serves.
    std::filesystem::resize_file(Path("c.spk").toStdString(),
                                 16385 * int64_t{quillex::FrameRecordSize});
    // From the second frame on, 16384 frames are left: one row each; the last 20 frames give
    // 20 rows, in an image of the same margins.
    int margins = -1;
    for (const auto& [first, rows] : {std::pair{QStringList{}, 8193},
                                      {QStringList{"--first", "1"}, 16384},
                                      {QStringList{"--first", "16365"}, 20}}) {
        SCOPED_TRACE(rows);
        QString err;
        const QImage image = Export(
            QStringList{Path("c.spk"), "--fft-exponent", "8", "--min-dbm", "-200"} + first, &err);
        EXPECT_EQ(err.contains("folding 2 frames"), rows == 8193) << err.toStdString();
        EXPECT_EQ(WaterfallArea(image, 256).height(), rows);
        EXPECT_TRUE(margins < 0 || image.height() - rows == margins);
        margins = image.height() - rows;
    }
}

// The frequency axis's unit stays clear of its first label, however wide the offset makes
// it: "1234.567" centred on the span's first column reaches far to the left of it, and the
// unit "MHz" moves left to leave a gap rather than running into it.
TEST_F(ExportImageTest, FrequencyUnitClearOfTheFirstLabel)
{
    WriteBytes(
        Path("o.spk"),
        MakeRecordingBytes({.N = 256, .Frames = 20, .Header = "Offsets:    1234.567     0.0"}));
    const QImage image = Export({Path("o.spk"), "--fft-exponent", "8"});
    const QRect fall = WaterfallArea(image, 256);
    ASSERT_EQ(fall.height(), 20);

    // The labels' row, below the axis line and its 6-pixel ticks and above the colour scale:
    // the first label is shown, and the whole unit lies left of it, with the labels' gap of 3
    // blank columns between.
    const QFontMetrics metrics(quillex::TExportImage::LabelFont());
    const int labelLeft = fall.left() - metrics.horizontalAdvance("1234.567") / 2;
    const QRect row(0, fall.bottom() + 8, fall.left(), 4 + metrics.height());
    EXPECT_FALSE(Box(image, row.adjusted(labelLeft, 0, 0, 0), Dark).isNull());
    const QRect unit = Box(image, row.adjusted(0, 0, labelLeft - row.right() - 1, 0), Dark);
    EXPECT_GE(unit.width(), metrics.horizontalAdvance("MHz") - 4);
    EXPECT_LT(unit.right(), labelLeft - 3);
}

// The time axis's labels stay clear of the frequency axis's unit in the same margin: in an
// image of a few rows the date under the first label would reach down to the unit, and so
// would a dated label on the last row of a taller one (past midnight). Every label keeps a
// gap of 3 blank rows above the unit's line, and the top one stays clear of the title.
TEST_F(ExportImageTest, TimeLabelsClearOfTheFrequencyUnit)
{
    const double evening = quillex::EncodeDateTime(2026, 12, 6, 23, 59, 59);
    const QFontMetrics metrics(quillex::TExportImage::LabelFont());
    const int h = metrics.height();
    for (const int frames : {60, 12, 3, 1}) {
        SCOPED_TRACE(std::to_string(frames) + " rows");
        // One stamp on the first frame; in the tallest image another on the last, dated.
        const auto stamp = [&](int64_t f) {
            return f == 0 ? evening : f == 59 ? evening + 2 / 86400.0 : 0.0;
        };
        WriteBytes(Path("s.spk"), MakeRecordingBytes({.N = 256, .Frames = frames, .Stamp = stamp}));
        // The first frequency label stands right of the waterfall's left edge.
        const QImage image = Export(
            {Path("s.spk"), "--fft-exponent", "8", "--span-mhz", "20", "--centre-mhz", "15.1"});
        // Margins of 6, ticks of 6, gaps of 3: the waterfall starts right of the wider of a
        // time and a date with their gap and tick, below the title's line and a line of room
        // for the first label (more for an image too short for its two lines above the
        // frequency axis's unit); below it the axis's labels and the colour scale.
        const QRect fall = WaterfallArea(image, 128);
        const int timeWidth = std::max(metrics.horizontalAdvance("00:00:00"),
                                       metrics.horizontalAdvance("0000-00-00"));
        EXPECT_EQ(fall, QRect(6 + timeWidth + 3 + 6 + 1,
                              6 + h + 6 + h + std::max(0, h + 3 - 6 - 6 - frames), 128, frames));
        EXPECT_EQ(image.height(), fall.bottom() + 1 + 6 + 3 + h + 6 + h + 6);

        // The dark ink left of the axis's ticks in rows Y0 .. Y1-1.
        const auto ink = [&](int Y0, int Y1) {
            return Box(image, QRect(0, Y0, fall.left() - 7, Y1 - Y0), Dark);
        };
        // The unit's line starts below the axis line, its 6-pixel ticks and a gap of 3; the
        // lowest label's line (digits stand on its baseline, the font's descent below them)
        // ends 3 rows above it, and on the unit's line there is only the unit.
        const int unitTop = fall.bottom() + 1 + 6 + 3;
        EXPECT_LE(ink(fall.top() - h, unitTop).bottom() + 1 + metrics.descent(), unitTop - 3);
        const QRect unit = ink(unitTop, unitTop + h);
        EXPECT_LE(unit.right() - unit.left() + 1, metrics.horizontalAdvance("MHz"));
        // The title's line of ink ends 3 blank rows or more above the first label's.
        int titleBottom = ink(0, image.height()).top();
        while (ink(titleBottom + 1, titleBottom + 2).bottom() >= 0)
            ++titleBottom;
        const QRect labels = ink(titleBottom + 1, unitTop - 3);
        EXPECT_GE(labels.top() - titleBottom, 4);
        // The first label shows its time and date: two lines, the date's width.
        const QRect first = ink(labels.top(), labels.top() + 2 * h);
        EXPECT_GT(first.bottom() - first.top(), h);
        EXPECT_GT(first.right() - first.left(), metrics.horizontalAdvance("2026-12-06") - 4);
        // The time labels and the unit are right-aligned on one column, 3 blank columns
        // left of the time axis's 6-pixel ticks: ink ends where the same text, drawn
        // alone right-aligned, ends.
        const int textEnd = fall.left() - 1 - 6 - 3; // first column past the text
        const auto inkEnd = [&](const char* Text) {
            QImage alone(200, h, QImage::Format_RGB32);
            alone.fill(Qt::white);
            QPainter p(&alone);
            p.setFont(quillex::TExportImage::LabelFont());
            p.drawText(QRect(0, 0, 200, h), Qt::AlignRight | Qt::AlignTop, Text);
            p.end();
            return textEnd - (200 - Box(alone, alone.rect(), Dark).right());
        };
        EXPECT_EQ(unit.right(), inkEnd("MHz"));
        EXPECT_EQ(ink(labels.top(), labels.top() + h - 3).right(), inkEnd("23:59:59"));
        EXPECT_EQ(first.right(), std::max(inkEnd("23:59:59"), inkEnd("2026-12-06")));
        if (frames == 60) { // and the last one as well
            EXPECT_GT(ink(fall.bottom() - h, unitTop - 3).bottom() - (fall.bottom() - h), h);
        }
    }
}

// The colour scale: its bar framed by a black line one pixel round it, its ends labelled
// with the levels of the scale's ends moved by the recording's level offset. The image
// ends in a blank margin, the frequency label at the span's last column whole inside it.
TEST_F(ExportImageTest, ColourScaleAndRightMargin)
{
    WriteBytes(
        Path("o.spk"),
        MakeRecordingBytes({.N = 1024, .Frames = 30, .Header = "Offsets:    1000.0     25.0"}));
    // A wide span, and one so narrow that the colour scale is the widest part of the image.
    for (const bool narrow : {false, true}) {
        SCOPED_TRACE(narrow ? "narrow" : "wide");
        const QImage image =
            Export(QStringList{Path("o.spk"), "--min-dbm", "-130", "--max-dbm", "-70"} +
                   QString(narrow ? "--fft-exponent 8 --span-mhz 5"
                                  : "--fft-exponent 10 --span-mhz 20 "
                                    "--centre-mhz 10.04")
                       .split(' '));
        const QRect fall = WaterfallArea(image, narrow ? 32 : 512);
        ASSERT_EQ(fall.height(), 30);

        // The bar: the coloured pixels below the waterfall (the palette's first entry is black).
        const QRect bar =
            Box(image, QRect(0, fall.bottom() + 1, image.width(), image.height()), Coloured);
        ASSERT_EQ(bar.width(), 255);
        const int top = bar.top(), bottom = bar.bottom(), left = bar.left() - 1,
                  right = bar.right();
        // Its 256 columns run through the palette in order, from its first entry to red.
        const quillex::TSpektroPaletteTables& palette = quillex::SpektroPalette();
        std::map<QRgb, int> entry;
        for (int p = quillex::SpektroPaletteLast; p >= 0; --p)
            entry[qRgb(palette.RedTable[p], palette.GreenTable[p], palette.BlueTable[p])] = p;
        std::vector<int> entries;
        for (int x = left; x <= right; ++x)
            entries.push_back(entry.count(image.pixel(x, top)) ? entry[image.pixel(x, top)] : -1);
        EXPECT_EQ(entries.front(), 0);
        EXPECT_EQ(entries.back(), quillex::SpektroPaletteLast);
        EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end()));
        int framed = 0; // black pixels of the frame
        for (int x = left - 1; x <= right + 1; ++x)
            framed += (image.pixel(x, top - 1) == qRgb(0, 0, 0)) +
                      (image.pixel(x, bottom + 1) == qRgb(0, 0, 0));
        for (int y = top; y <= bottom; ++y)
            framed += (image.pixel(left - 1, y) == qRgb(0, 0, 0)) +
                      (image.pixel(right + 1, y) == qRgb(0, 0, 0));
        EXPECT_EQ(framed, 2 * (256 + 2) + 2 * (bottom - top + 1));

        // A label's ink matches the text drawn alone in the labels' font.
        const int h = QFontMetrics(quillex::TExportImage::LabelFont()).height();
        EXPECT_EQ(Ink(image, QRect(0, top - 4, left - 2, h + 4)), Drawn("-105 dBm"));
        EXPECT_EQ(Ink(image, QRect(right + 2, top - 4, image.width() - right - 2, h + 4)),
                  Drawn("-45 dBm"));

        // Nothing in the last columns; the labels' row reaches close to them.
        EXPECT_TRUE(Box(image, QRect(image.width() - 4, 0, 4, image.height()), NotWhite).isNull());
        const QImage labels = Ink(image, QRect(fall.right() - 40, fall.bottom() + 8, 80, h));
        EXPECT_TRUE(narrow || labels.width() > 30);
    }
}
