#include "SpektroNeu.h"
#include "SpektroNeuLegend.h"

#include <QApplication>
#include <QBackingStore>
#include <QFile>
#include <QFontMetrics>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

// The waterfall on screens of device pixel ratio 2, 1.5 and 1. The offscreen platform is given
// three screens with Qt scale factors of their own (what QT_SCALE_FACTOR=2 does for every
// screen), as a desk with monitors of different densities has: the window surface then has
// the device pixels, so the tests see what the screen shows, and a test can move the control
// from one screen to another the way a user drags the window. Every expected pixel is worked
// out here from the rules: logical sizes times the ratio, the palette table, the column rule.

namespace {

constexpr QRgb Black = 0xff000000u;
constexpr QRgb Magenta = 0xffff00ffu;
constexpr int WaveW = 300;
constexpr int WaveH = 40;
constexpr int Gap = 60;

QScreen* ScreenOfRatio(double Ratio)
{
    for (QScreen* s : QGuiApplication::screens())
        if (s->devicePixelRatio() == Ratio)
            return s;
    return nullptr;
}

// The palette as a table of five segments, black through blue, cyan, green, yellow to red.
QRgb PaletteEntry(int P)
{
    int r = 0, g = 0, b = 0;
    if (P < 256)
        b = P;
    else if (P < 512)
        g = P - 256, b = 255;
    else if (P < 768)
        g = 255, b = 767 - P;
    else if (P < 1024)
        r = P - 768, g = 255;
    else
        r = 255, g = 1279 - P;
    return qRgb(r, g, b);
}

// The colour of a level on -140 .. -40: rounded half to even, then the nearest of 1280 entries.
QRgb LevelColour(double Level, bool Lit = false)
{
    const long double level = std::nearbyint(Level);
    long double p = std::nearbyint((level + 140) * (1279.0L / 100.0L));
    p = std::clamp<long double>(p, 0, 1279);
    const QRgb c = PaletteEntry(static_cast<int>(p));
    return Lit ? (c ^ 0x252525u) : c;
}

bool AreaIs(const QImage& Image, QRect Area, QRgb Colour)
{
    Area &= Image.rect();
    for (int y = Area.top(); y <= Area.bottom(); ++y)
        for (int x = Area.left(); x <= Area.right(); ++x)
            if (Image.pixel(x, y) != Colour)
                return false;
    return true;
}

// What the window surface shows of an area, in device pixels.
QImage Shown(const QWidget* Area, double Ratio)
{
    QTest::qWait(30);
    const auto* surface =
        dynamic_cast<const QImage*>(Area->window()->backingStore()->paintDevice());
    if (surface == nullptr) {
        ADD_FAILURE() << "the window has no raster surface";
        return QImage();
    }
    const QPoint at = Area->mapTo(Area->window(), QPoint(0, 0));
    QImage shown = surface->copy(QRect(std::lround(at.x() * Ratio), std::lround(at.y() * Ratio),
                                       std::lround(Area->width() * Ratio),
                                       std::lround(Area->height() * Ratio)));
    shown.setDevicePixelRatio(Ratio);
    return shown;
}

// Whether two pictures have the same size and pixels; says where they differ first.
::testing::AssertionResult SamePixels(const QImage& A, const QImage& B)
{
    if (A.size() != B.size())
        return ::testing::AssertionFailure()
               << A.width() << "x" << A.height() << " against " << B.width() << "x" << B.height();
    for (int y = 0; y < A.height(); ++y)
        for (int x = 0; x < A.width(); ++x)
            if ((A.pixel(x, y) | 0xff000000u) != (B.pixel(x, y) | 0xff000000u))
                return ::testing::AssertionFailure()
                       << "first difference at " << x << "," << y << ": " << std::hex
                       << A.pixel(x, y) << " against " << B.pixel(x, y);
    return ::testing::AssertionSuccess();
}

// 2 x 2 blocks of the area at even positions whose four pixels are not all alike: a picture
// drawn at logical pixels and blown up has none.
int MixedBlocks(const QImage& Image, QRect Area)
{
    int mixed = 0;
    for (int y = Area.top() & ~1; y + 1 <= Area.bottom(); y += 2)
        for (int x = Area.left() & ~1; x + 1 <= Area.right(); x += 2) {
            const QRgb p = Image.pixel(x, y);
            mixed += Image.pixel(x + 1, y) != p || Image.pixel(x, y + 1) != p ||
                     Image.pixel(x + 1, y + 1) != p;
        }
    return mixed;
}

// Ink: pixels that are neither the background nor the given colours.
QRect InkBounds(const QImage& Image, QRect Area, QRgb Background)
{
    QRect ink;
    for (int y = Area.top(); y <= Area.bottom(); ++y)
        for (int x = Area.left(); x <= Area.right(); ++x)
            if (Image.pixel(x, y) != Background)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

std::vector<float> Flat(std::size_t N, float Level)
{
    return std::vector<float>(N, Level);
}

struct WaterfallOnScreen : ::testing::Test
{
    TSpektroNeu S;
    const QRgb Menu = QApplication::palette().color(QPalette::Window).rgb();

    void Show(double Ratio)
    {
        S.setGapLeft(Gap);
        S.setZMin(-140);
        S.setZMax(-40);
        S.resize(WaveW + Gap + 2, WaveH + 2);
        QScreen* screen = ScreenOfRatio(Ratio);
        ASSERT_NE(screen, nullptr);
        S.move(screen->geometry().topLeft() + QPoint(20, 20));
        S.show();
        S.windowHandle()->setScreen(screen);
        QCoreApplication::processEvents();
        ASSERT_EQ(S.Ratio(), Ratio);
    }
};

} // namespace

TEST_F(WaterfallOnScreen, RowsColumnsAndTheTimeAxisTakeDevicePixels)
{
    Show(2);
    std::vector<float> ramp(4096);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = -140.0f + 100.0f * float(i) / 4095.0f;
    S.AddLine(Flat(64, -130));
    S.AddLine(ramp);
    S.AddLine(Flat(64, -100));
    const QImage wave = S.WaveImage();
    ASSERT_EQ(wave.size(), QSize(2 * WaveW, 2 * WaveH));
    EXPECT_EQ(wave.devicePixelRatio(), 2.0);
    const int h = wave.height(), w = wave.width();

    // Each row two device rows high, newest at the bottom, black above.
    for (int y : {h - 1, h - 2})
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(wave.pixel(x, y), LevelColour(-100, x < 2)) << x << "," << y;
    EXPECT_TRUE(AreaIs(wave, QRect(2, h - 6, w, 2), LevelColour(-130)));
    EXPECT_TRUE(AreaIs(wave, QRect(0, 0, w, h - 6), Black));
    // The ramp: each device column shows its own nearest value (ties to even), not every
    // second one twice.
    for (int y : {h - 3, h - 4})
        for (long long x = 0; x < w; ++x) {
            const long long num = 4095 * x, den = w - 1;
            const long long q = num / den, twice = 2 * (num % den);
            const long long value = q + (twice > den || (twice == den && q % 2));
            ASSERT_EQ(wave.pixel(int(x), y), LevelColour(ramp[std::size_t(value)], x < 2))
                << x << "," << y;
        }

    // The time axis: one logical pixel (two device pixels) wide, ten logical pixels left of the
    // waterfall, beside the three rows only.
    const QImage left = S.LeftImage();
    ASSERT_EQ(left.size(), QSize(2 * Gap, 2 * WaveH));
    const int axis = 2 * (Gap - 10);
    EXPECT_TRUE(AreaIs(left, QRect(axis, h - 6, 2, 6), Black));
    EXPECT_TRUE(AreaIs(left, QRect(0, h - 6, axis, 6), Menu));
    EXPECT_TRUE(AreaIs(left, QRect(axis + 2, h - 6, 2 * Gap, 6), Menu));
    EXPECT_TRUE(AreaIs(left, QRect(0, 0, 2 * Gap, h - 6), Menu));
}

TEST_F(WaterfallOnScreen, TimeMarkTickIsOneLogicalPixelAndItsTextIsSharp)
{
    Show(2);
    for (int i = 0; i < 4; ++i)
        S.AddLine(Flat(64, -100));
    S.AddTimeMark("hh:nn:ss", 46000.5);
    const QImage left = S.LeftImage();
    const int h = left.height(), axis = 2 * (Gap - 10);
    // The tick: ten logical pixels from four left of the axis, two device rows, one logical
    // row above the bottom.
    EXPECT_TRUE(AreaIs(left, QRect(axis - 8, h - 4, 20, 2), Black));
    for (int y : {h - 5, h - 2}) {
        EXPECT_TRUE(AreaIs(left, QRect(axis - 8, y, 8, 1), Menu)) << y;
        EXPECT_TRUE(AreaIs(left, QRect(axis + 2, y, 10, 1), Menu)) << y;
    }
    // The text: within its box of twelve logical rows above the bottom and its advance; drawn
    // from the device pixels' font, so its edges fall on odd device pixels too.
    const QFontMetrics metrics(S.TimeMarkFont());
    const int advance = 2 * metrics.horizontalAdvance("12:00:00");
    const QRect box(0, h - 24, advance, 24);
    const QRect ink = InkBounds(left, QRect(0, 0, axis - 8, h), Menu);
    EXPECT_TRUE(box.contains(ink))
        << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height();
    EXPECT_GT(ink.height(), 2 * metrics.capHeight() - 3);
    EXPECT_GT(MixedBlocks(left, ink), ink.width() / 2);

    // It moves up with the next row by the row's two device rows.
    S.AddLine(Flat(64, -100));
    EXPECT_EQ(S.LeftImage().copy(0, h - 26, axis - 8, 24), left.copy(0, h - 24, axis - 8, 24));
}

TEST_F(WaterfallOnScreen, MarkLineAndLabelAtDeviceResolution)
{
    Show(2);
    S.AddLine(Flat(64, -120));
    S.AddMark("seek", QColor(Magenta));
    S.AddLine(Flat(64, -100));
    const QImage wave = S.WaveImage();
    const int h = wave.height();
    // Dashes four logical pixels long with gaps of four, across the row's device rows.
    for (int y : {h - 1, h - 2})
        for (int x = 0; x < wave.width(); ++x)
            ASSERT_EQ(wave.pixel(x, y), x % 16 < 8 ? Magenta : LevelColour(-100, x < 2))
                << x << "," << y;
    EXPECT_TRUE(AreaIs(wave, QRect(2, h - 4, wave.width(), 2), LevelColour(-120)));

    // The label: on the mark's colour just above the row, text padded by two logical pixels.
    const QImage left = S.LeftImage();
    const QFontMetrics metrics(S.TimeMarkFont());
    const QRect box(0, h - 2 - 2 * (metrics.height() + 2),
                    2 * (metrics.horizontalAdvance("seek") + 4), 2 * (metrics.height() + 2));
    for (const QPoint corner : {box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight()})
        EXPECT_EQ(left.pixel(corner), Magenta) << corner.x() << "," << corner.y();
    EXPECT_TRUE(AreaIs(left, QRect(box.right() + 1, box.top(), 4, box.height()), Menu));
    EXPECT_TRUE(AreaIs(left, QRect(0, box.top() - 2, box.width(), 2), Menu));
    EXPECT_TRUE(AreaIs(left, QRect(0, h - 2, box.width(), 2), Menu));
    const QRect ink = InkBounds(left, box, Magenta);
    EXPECT_TRUE(box.adjusted(2, 2, -2, 0).contains(ink))
        << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height() << " in "
        << box.x() << "," << box.y() << " " << box.width() << "x" << box.height();
    EXPECT_GT(MixedBlocks(left, ink), 0);

    ASSERT_EQ(S.Marks().size(), 1u);
    EXPECT_EQ(S.Marks()[0].Age, 0);
    S.AddLine(Flat(64, -100));
    EXPECT_EQ(S.Marks()[0].Age, 1);
    EXPECT_EQ(S.RowTop(1), h - 4);
    EXPECT_EQ(S.WaveImage().pixel(0, h - 3), Magenta);
    EXPECT_EQ(S.WaveImage().pixel(0, h - 1), LevelColour(-100, true));
}

// The window shows the images 1:1 on its device pixels, whether rows are moved on screen
// (NoFlicker) or repainted whole, across lines, time marks, marks and clearing.
TEST_F(WaterfallOnScreen, WindowSurfaceShowsTheImages)
{
    Show(2);
    for (bool noFlicker : {true, false}) {
        S.setNoFlicker(noFlicker);
        for (int i = 0; i < 60; ++i) {
            if (i % 13 == 0)
                S.AddMark("span", QColor(Magenta));
            S.AddLine(Flat(300, -140.0f + float((i * 7) % 100)));
            if (i % 9 == 0)
                S.AddTimeMark("hh:nn:ss", 46000.5 + i / 86400.0);
            if (i % 4 == 0)
                QApplication::processEvents();
            if (i == 30)
                S.Clear();
        }
        // A label drawn with the last row, with no time mark after it.
        S.AddMark("seek", QColor(Magenta));
        S.AddLine(Flat(300, -90));
        QApplication::processEvents();
        S.AddLine(Flat(300, -90));
        EXPECT_TRUE(SamePixels(Shown(S.WaveBox(), 2), S.WaveImage())) << noFlicker;
        EXPECT_TRUE(SamePixels(Shown(S.LeftBox(), 2), S.LeftImage())) << noFlicker;
    }
}

// Dragged to a screen of another density, the control draws everything again for it: the
// rows from their painted pixels, the margin from its marks; what it shows then is what a
// control that was always there shows.
TEST_F(WaterfallOnScreen, MovedToAnotherScreenDrawsForItsPixels)
{
    Show(2);
    TSpektroNeu native;
    native.setGapLeft(Gap);
    native.setZMin(-140);
    native.setZMax(-40);
    native.resize(S.size());
    native.move(ScreenOfRatio(1)->geometry().topLeft() + QPoint(20, 20));
    native.show();
    native.windowHandle()->setScreen(ScreenOfRatio(1));
    QCoreApplication::processEvents();
    ASSERT_EQ(native.Ratio(), 1.0);
    for (TSpektroNeu* s : {&S, &native})
        for (int i = 0; i < 70; ++i) {
            if (i % 25 == 3)
                s->AddMark(i % 2 ? "gap 12 s" : "span, FFT", QColor(Magenta));
            s->AddLine(Flat(64, -140.0f + float((i * 3) % 100)));
            if (i % 20 == 0)
                s->AddTimeMark("hh:nn:ss", 46000.5 + i / 86400.0);
        }
    S.windowHandle()->setScreen(ScreenOfRatio(1));
    QCoreApplication::processEvents();
    ASSERT_EQ(S.Ratio(), 1.0);
    EXPECT_EQ(S.WaveImage(), native.WaveImage());
    EXPECT_EQ(S.LeftImage(), native.LeftImage());
    EXPECT_EQ(S.Marks().size(), native.Marks().size());

    // At 1.5 rows take one or two device rows in turn, and the screen still shows the images.
    S.windowHandle()->setScreen(ScreenOfRatio(1.5));
    QCoreApplication::processEvents();
    ASSERT_EQ(S.Ratio(), 1.5);
    const QImage wave = S.WaveImage();
    EXPECT_EQ(wave.size(), QSize(std::lround(WaveW * 1.5), std::lround(WaveH * 1.5)));
    int bottom = wave.height();
    for (int age = 0; age < 10; ++age) {
        const int height = S.RowDeviceHeight(age);
        EXPECT_TRUE(height == 1 || height == 2) << age;
        EXPECT_EQ(S.RowTop(age), bottom - height) << age;
        const int i = 69 - age;
        EXPECT_TRUE(AreaIs(wave, QRect(2, bottom - height, wave.width(), height),
                           LevelColour(-140.0f + float((i * 3) % 100))))
            << age;
        bottom -= height;
    }
    EXPECT_EQ(S.RowDeviceHeight(0) + S.RowDeviceHeight(1), 3);

    for (int i = 0; i < 5; ++i)
        S.AddLine(Flat(64, -60));
    EXPECT_TRUE(SamePixels(Shown(S.WaveBox(), 1.5), S.WaveImage()));
    EXPECT_TRUE(SamePixels(Shown(S.LeftBox(), 1.5), S.LeftImage()));
}

// The scale beside the waterfall: its bar one level per device row, its ticks one logical pixel
// (two device rows) thick, its texts drawn at the device pixels.
TEST(LegendOnScreen, DrawnAtDevicePixels)
{
    TSpektroLegend legend;
    const QFontMetrics metrics(legend.LabelFont());
    legend.resize(legend.NeededWidth(), metrics.height() + 100);
    legend.move(ScreenOfRatio(2)->geometry().topLeft() + QPoint(20, 20));
    legend.show();
    legend.windowHandle()->setScreen(ScreenOfRatio(2));
    QCoreApplication::processEvents();
    legend.SetScale(-120, -80, 0);
    const QImage p = legend.Picture();
    ASSERT_EQ(p.size(), 2 * legend.size());
    const int top = 2 * metrics.height(), rows = p.height() - top;
    const QRgb ink = QApplication::palette().color(QPalette::WindowText).rgb();
    const QRgb bg = QApplication::palette().color(QPalette::Window).rgb();
    for (int row = 0; row < rows; ++row) {
        const double level = -80.0 - 40.0 * row / (rows - 1);
        const long double entry = std::nearbyint((std::nearbyint(level) + 120) * (1279.0L / 40));
        const QRgb want = PaletteEntry(int(std::clamp<long double>(entry, 0, 1279)));
        ASSERT_TRUE(AreaIs(p, QRect(0, top + row, 20, 1), want)) << row;
        ASSERT_TRUE(p.pixel(20, top + row) == bg || p.pixel(20, top + row) == ink) << row;
    }
    ASSERT_GE(legend.Ticks().size(), 3u);
    const int row = legend.Ticks()[1].Row;
    EXPECT_TRUE(AreaIs(p, QRect(20, row, 6, 2), ink));
    EXPECT_TRUE(AreaIs(p, QRect(20, row - 1, 6, 1), bg));
    EXPECT_TRUE(AreaIs(p, QRect(20, row + 2, 6, 1), bg));
    const QRect text = InkBounds(p, QRect(30, row - 14, p.width() - 30, 28), bg);
    EXPECT_GT(text.height(), 2 * metrics.capHeight() - 3);
    EXPECT_GT(MixedBlocks(p, text), text.width() / 2);
    EXPECT_TRUE(SamePixels(legend.grab().toImage(), p));
}

int main(int argc, char** argv)
{
    // Three screens side by side, scaled by 2 (the first, where windows open), 1.5 and 1.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    file.write(R"({"screens": [
        {"name": "a", "x": 0, "y": 0, "width": 1600, "height": 1000, "logicalDpi": 96,
         "logicalBaseDpi": 96, "dpr": 1},
        {"name": "b", "x": 1600, "y": 0, "width": 1600, "height": 1000, "logicalDpi": 96,
         "logicalBaseDpi": 96, "dpr": 1},
        {"name": "c", "x": 3200, "y": 0, "width": 1600, "height": 1000, "logicalDpi": 96,
         "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    qputenv("QT_SCREEN_SCALE_FACTORS", "a=2;b=1.5;c=1");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
