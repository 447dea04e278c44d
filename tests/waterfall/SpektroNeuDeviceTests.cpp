#include "SpektroNeu.h"
#include "SpektroNeuLegend.h"
#include "waterfall_rules.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include <vector>

// The waterfall on three offscreen screens with Qt scale factors of their own, 2, 1.5 and 1
// (what QT_SCALE_FACTOR does for all screens): the window surface then has the device pixels,
// so the tests see what the screen shows, and a test can move the control between densities
// as a user drags the window. Expected pixels come from the rules: logical sizes times the
// ratio, the palette, the column rule.

namespace {

constexpr QRgb Black = 0xff000000u;
constexpr QRgb Magenta = 0xffff00ffu;
constexpr int WaveW = 300, WaveH = 40, Gap = 60;

QScreen* ScreenOfRatio(double Ratio)
{
    for (QScreen* s : QGuiApplication::screens())
        if (s->devicePixelRatio() == Ratio)
            return s;
    return nullptr;
}

void PutOn(QWidget& W, double Ratio)
{
    W.move(ScreenOfRatio(Ratio)->geometry().topLeft() + QPoint(20, 20));
    W.show();
    W.windowHandle()->setScreen(ScreenOfRatio(Ratio));
    QCoreApplication::processEvents();
}

QRgb Colour(double Level, bool Lit = false)
{
    return LevelColour(Level, -140, -40, Lit);
}

QImage Opaque(const QImage& Image)
{
    QImage copy = Image.convertToFormat(QImage::Format_RGB32);
    copy.setDevicePixelRatio(1);
    return copy;
}

std::vector<float> Flat(float Level, std::size_t N = 64)
{
    return std::vector<float>(N, Level);
}

struct OnScreen : ::testing::Test
{
    TSpektroNeu S;
    const QRgb Menu = QApplication::palette().color(QPalette::Window).rgb();

    void Show(double Ratio)
    {
        S.setGapLeft(Gap);
        S.setZMin(-140);
        S.setZMax(-40);
        S.resize(WaveW + Gap + 2, WaveH + 2);
        PutOn(S, Ratio);
        ASSERT_EQ(S.Ratio(), Ratio);
    }
};

} // namespace

// At ratio 2: rows two device rows high, every device column its own value; the time axis and a
// mark's dashes one logical pixel (two device pixels) wide; the mark's label in its place.
TEST_F(OnScreen, RowsColumnsAxisAndMarksTakeDevicePixels)
{
    Show(2);
    std::vector<float> ramp(4096);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = -140.0f + 100.0f * float(i) / 4095.0f;
    S.AddLine(Flat(-130));
    S.AddLine(ramp);
    S.AddTimeMark("hh:nn:ss", 46000.5);
    S.AddMark("seek", QColor(Magenta));
    S.AddLine(Flat(-100));
    const QImage wave = S.WaveImage(), left = S.LeftImage();
    ASSERT_EQ(wave.size(), QSize(2 * WaveW, 2 * WaveH));
    EXPECT_EQ(wave.devicePixelRatio(), 2.0);
    const int h = wave.height(), w = wave.width(), axis = 2 * (Gap - 10);
    for (long long x = 0; x < w; ++x) {
        const long long num = 4095 * x, den = w - 1, q = num / den, twice = 2 * (num % den);
        const long long value = q + (twice > den || (twice == den && q % 2));
        // Logical column 0 is highlighted: both its device columns.
        ASSERT_TRUE(AreaIs(wave, QRect(int(x), h - 4, 1, 2), Colour(ramp[value], x < 2))) << x;
        ASSERT_TRUE(
            AreaIs(wave, QRect(int(x), h - 2, 1, 2), x % 16 < 8 ? Magenta : Colour(-100, x < 2)))
            << x;
    }
    EXPECT_TRUE(AreaIs(wave, QRect(2, h - 6, w, 2), Colour(-130)));
    EXPECT_TRUE(AreaIs(wave, QRect(0, 0, w, h - 6), Black));
    // The axis beside the three rows, two device pixels wide.
    EXPECT_TRUE(AreaIs(left, QRect(axis, h - 6, 2, 6), Black));
    EXPECT_TRUE(AreaIs(left, QRect(axis + 2, h - 2, 2 * Gap, 2), Menu));
    // The label's box, its text inside, stacked on the time text written before the row.
    const QFontMetrics metrics(S.TimeMarkFont());
    const int boxH = 2 * (metrics.height() + 2), boxTop = h - 2 - 24 - boxH;
    EXPECT_TRUE(left.pixel(1, boxTop) == Magenta && left.pixel(1, boxTop + boxH - 1) == Magenta);
    EXPECT_FALSE(AreaIs(left, QRect(4, boxTop + 4, 2 * metrics.horizontalAdvance("seek"), boxH - 8),
                        Magenta));
}

// The window shows the images 1:1 on its device pixels, rows moved on screen (NoFlicker) or
// repainted whole, across lines, time marks, marks and clearing, and right after a line that
// showed a new time mark or label.
TEST_F(OnScreen, WindowSurfaceShowsTheImages)
{
    Show(2);
    for (bool noFlicker : {true, false}) {
        S.setNoFlicker(noFlicker);
        for (int i = 0; i < 60; ++i) {
            if (i % 13 == 0)
                S.AddMark("span", QColor(Magenta));
            S.AddLine(Flat(-140.0f + float((i * 7) % 100), 300));
            if (i % 9 == 0)
                S.AddTimeMark("hh:nn:ss", 46000.5 + i / 86400.0);
            if (i % 4 == 0)
                QApplication::processEvents();
            if (i == 30)
                S.Clear();
        }
        for (bool label : {false, true}) {
            if (label)
                S.AddMark("seek", QColor(Magenta));
            else
                S.AddTimeMark("hh:nn:ss", 46001.5);
            S.AddLine(Flat(-90));
            EXPECT_EQ(Shown(S.WaveBox(), 2), Opaque(S.WaveImage())) << noFlicker;
            EXPECT_EQ(Shown(S.LeftBox(), 2), Opaque(S.LeftImage())) << noFlicker << label;
        }
    }
}

// Dragged to a screen of another density, the control draws everything again for it, and then
// shows what a control that was always there shows; at 1.5 rows take one or two device rows.
TEST_F(OnScreen, MovedToAnotherScreenDrawsForItsPixels)
{
    Show(2);
    TSpektroNeu native;
    native.setGapLeft(Gap);
    native.setZMin(-140);
    native.setZMax(-40);
    native.resize(S.size());
    PutOn(native, 1);
    for (TSpektroNeu* s : {&S, &native})
        for (int i = 0; i < 70; ++i) {
            if (i % 25 == 3)
                s->AddMark(i % 2 ? "gap 12 s" : "span, FFT", QColor(Magenta));
            s->AddLine(Flat(-140.0f + float((i * 3) % 100)));
            // Time marks close together, the oldest partly above the top edge.
            if (i % 3 == 1)
                s->AddTimeMark("hh:nn:ss", 46000.5 + i / 86400.0);
        }
    S.windowHandle()->setScreen(ScreenOfRatio(1));
    QCoreApplication::processEvents();
    ASSERT_EQ(S.Ratio(), 1.0);
    EXPECT_EQ(S.WaveImage(), native.WaveImage());
    EXPECT_EQ(S.LeftImage(), native.LeftImage());

    S.windowHandle()->setScreen(ScreenOfRatio(1.5));
    QCoreApplication::processEvents();
    ASSERT_EQ(S.Ratio(), 1.5);
    const QImage wave = S.WaveImage();
    EXPECT_EQ(wave.size(), QSize(450, 60));
    const int h0 = S.RowDeviceHeight(0), h1 = S.RowDeviceHeight(1);
    EXPECT_EQ(h0 + h1, 3);
    EXPECT_EQ(S.RowTop(1), 60 - 3);
    EXPECT_TRUE(AreaIs(wave, QRect(2, 60 - h0, 448, h0), Colour(-140.0f + float(69 * 3 % 100))));
    EXPECT_TRUE(AreaIs(wave, QRect(2, 57, 448, h1), Colour(-140.0f + float(68 * 3 % 100))));
    for (int i = 0; i < 5; ++i)
        S.AddLine(Flat(-60));
    EXPECT_EQ(Shown(S.WaveBox(), 1.5), Opaque(S.WaveImage()));
    EXPECT_EQ(Shown(S.LeftBox(), 1.5), Opaque(S.LeftImage()));
    // Cleared and moved back: the axis starts at the first line after the clear.
    for (TSpektroNeu* s : {&S, &native}) {
        s->Clear();
        for (int i = 0; i < 3; ++i)
            s->AddLine(Flat(-90));
    }
    S.windowHandle()->setScreen(ScreenOfRatio(1));
    QCoreApplication::processEvents();
    EXPECT_EQ(S.LeftImage(), native.LeftImage());
}

// The level legend at ratio 2: one level per device row from the upper level at the top to
// the lower at the bottom, coloured by the palette rule; labels at the bars' values (offset
// added) and round steps of the shown level.
TEST(LegendOnScreen, ColoursAndLabelsByTheRules)
{
    TSpektroLegend legend;
    const QFontMetrics metrics(legend.LabelFont());
    legend.resize(legend.NeededWidth(), metrics.height() + 100);
    PutOn(legend, 2);
    // The offset alone changes, then the range alone: each redraws.
    for (const auto& [zmin, zmax, offset] :
         {std::tuple{-120.0, -80.0, 3.5}, std::tuple{-140.0, 0.0, 3.5}}) {
        SCOPED_TRACE(testing::Message() << zmin << ".." << zmax << " +" << offset);
        legend.SetScale(float(zmin), float(zmax), float(offset));
        const QImage p = legend.Picture();
        ASSERT_EQ(p.size(), 2 * legend.size());
        const int top = 2 * metrics.height(), rows = p.height() - top;
        for (int row = 0; row < rows; ++row)
            ASSERT_TRUE(AreaIs(p, QRect(0, top + row, 20, 1),
                               LevelColour(zmax - (zmax - zmin) * row / (rows - 1), zmin, zmax)))
                << row;
        // Steps of 1, 2, 5, 10 ... dB at least two and a half lines apart, two from the ends.
        const double perDb = (rows - 1) / (zmax - zmin);
        double step = 1;
        for (double s : {100.0, 50.0, 20.0, 10.0, 5.0, 2.0, 1.0})
            step = s * perDb >= 2 * int(metrics.height() * 2.5) ? s : step;
        QStringList want{QString::asprintf("%0.0f@%d", zmax + offset, top)};
        for (double shown = std::floor((zmax + offset) / step) * step; shown > zmin + offset;
             shown -= step) {
            const int row = int(std::lround((zmax + offset - shown) * perDb));
            if (row >= 4 * metrics.height() && rows - 1 - row >= 4 * metrics.height())
                want << QString::asprintf("%0.0f@%d", shown, top + row);
        }
        want << QString::asprintf("%0.0f@%d", zmin + offset, top + rows - 1);
        QStringList got;
        for (const auto& tick : legend.Ticks())
            got << QStringLiteral("%1@%2").arg(TSpektroLegend::LabelText(tick.Shown)).arg(tick.Row);
        EXPECT_EQ(got, want);
    }
    EXPECT_EQ(Opaque(legend.grab().toImage()), Opaque(legend.Picture()));
}

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("screens.json")));
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    file.write(R"({"screens": [
        {"name": "a", "x": 0, "y": 0, "width": 1600, "height": 1000, "dpr": 1},
        {"name": "b", "x": 1600, "y": 0, "width": 1600, "height": 1000, "dpr": 1},
        {"name": "c", "x": 3200, "y": 0, "width": 1600, "height": 1000, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + file.fileName().toLocal8Bit());
    qputenv("QT_SCREEN_SCALE_FACTORS", "a=2;b=1.5;c=1");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
