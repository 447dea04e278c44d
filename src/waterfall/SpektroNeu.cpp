#include "SpektroNeu.h"

#include "SpektroNeuArea.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr QRgb Black = 0xff000000u;

QRgb MenuBarColour()
{
    return QApplication::palette().color(QPalette::Window).rgb();
}

// A ratio that is a whole number up to rounding counts as one: rows then scroll on screen.
double Snapped(double Ratio)
{
    const double whole = std::round(Ratio);
    return std::fabs(Ratio - whole) < 1e-6 ? whole : Ratio;
}

bool IsWhole(double Ratio)
{
    return Ratio == std::round(Ratio);
}

} // namespace

TSpektroNeu::TSpektroNeu(QWidget* Owner)
    : QFrame(Owner), Left(MenuBarColour()), Wave(Black), Right(MenuBarColour())
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    FLeftBox = new TSpektroArea(this, Left, false);
    FWaveBox = new TSpektroArea(this, Wave, true);
    FRightBox = new TSpektroArea(this, Right, false);
    Colors.SetRange(FZMin, FZMax);
    FTimeMarkFont = QFont(QStringLiteral("Arial"));
    FTimeMarkFont.setPixelSize(11);
    FRatio = Snapped(devicePixelRatioF());
    FPendingMarks.reserve(4);
    setGeometry(50, 50, 200, 150);
    LayoutBoxes();
    ResizeBuffers();
}

TSpektroNeu::~TSpektroNeu() = default;

QWidget* TSpektroNeu::LeftBox() const
{
    return FLeftBox;
}

QWidget* TSpektroNeu::WaveBox() const
{
    return FWaveBox;
}

QWidget* TSpektroNeu::RightBox() const
{
    return FRightBox;
}

void TSpektroNeu::setZMin(float Value)
{
    if (Value == FZMin)
        return;
    FZMin = Value;
    Colors.SetRange(FZMin, FZMax);
}

void TSpektroNeu::setZMax(float Value)
{
    if (Value == FZMax)
        return;
    FZMax = Value;
    Colors.SetRange(FZMin, FZMax);
}

void TSpektroNeu::setGapLeft(int Value)
{
    if (Value < 0 || Value == FGapLeft)
        return;
    FGapLeft = Value;
    LayoutBoxes();
    ResizeBuffers();
}

void TSpektroNeu::setGapRight(int Value)
{
    if (Value < 0 || Value == FGapRight)
        return;
    FGapRight = Value;
    LayoutBoxes();
    ResizeBuffers();
}

// Qt always double-buffers the window; what can still flicker is the background that is
// composed under an area before its image is copied. Every area covers itself completely.
void TSpektroNeu::setNoFlicker(bool Value)
{
    FNoFlicker = Value;
    for (QWidget* box : {LeftBox(), WaveBox(), RightBox()}) {
        box->setAttribute(Qt::WA_OpaquePaintEvent, Value);
        box->setAttribute(Qt::WA_NoSystemBackground, Value);
    }
}

void TSpektroNeu::resizeEvent(QResizeEvent* Event)
{
    QFrame::resizeEvent(Event);
    LayoutBoxes();
    ResizeImages(TakeScreenRatio());
}

// Shown on a screen, or moved to another one: the images follow the screen's pixels.
void TSpektroNeu::showEvent(QShowEvent* Event)
{
    QFrame::showEvent(Event);
    if (TakeScreenRatio())
        ResizeImages(true);
}

bool TSpektroNeu::event(QEvent* Event)
{
    if (Event->type() == QEvent::ScreenChangeInternal && TakeScreenRatio())
        ResizeImages(true);
    return QFrame::event(Event);
}

bool TSpektroNeu::TakeScreenRatio()
{
    const double ratio = Snapped(devicePixelRatioF());
    if (ratio == FRatio || !(ratio > 0))
        return false;
    FRatio = ratio;
    return true;
}

int TSpektroNeu::Device(int Logical) const
{
    return quillex::DeviceLength(Logical, FRatio);
}

QImage TSpektroNeu::WithRatio(QImage Image) const
{
    if (!Image.isNull())
        Image.setDevicePixelRatio(FRatio);
    return Image;
}

// Left and right areas take their gaps (as far as the width allows), the waterfall the rest.
void TSpektroNeu::LayoutBoxes()
{
    const QRect inner = contentsRect();
    const int left = std::clamp(FGapLeft, 0, inner.width());
    const int right = std::clamp(FGapRight, 0, inner.width() - left);
    const int wave = inner.width() - left - right;
    FLeftBox->setGeometry(inner.x(), inner.y(), left, inner.height());
    FWaveBox->setGeometry(inner.x() + left, inner.y(), wave, inner.height());
    FRightBox->setGeometry(inner.x() + left + wave, inner.y(), right, inner.height());
}

void TSpektroNeu::ResizeBuffers()
{
    ResizeImages(false);
}

// Relayout: the device pixel ratio changed, so every row is laid out again from its painted
// pixels and the margin is drawn again from what it shows; otherwise the images keep their
// pixels where they can.
void TSpektroNeu::ResizeImages(bool Relayout)
{
    const QRgb menu = MenuBarColour();
    Left.SetBackground(menu);
    Right.SetBackground(menu);
    Left.Resize(Device(FLeftBox->width()), Device(FLeftBox->height()), !Relayout);
    const int height = Device(FWaveBox->height());
    // The rows that can be seen, a partly shown one at the top included: any k rows take at
    // least floor(k * ratio) device rows.
    FRowsKept = static_cast<int>(std::ceil(height / std::max(FRatio, 1.0)));
    RescaleWaveRows(Device(FWaveBox->width()), height, Relayout);
    Right.Resize(Device(FRightBox->width()), Device(FRightBox->height()), !Relayout);
    if (Relayout) {
        Right.Fill(menu);
        RedrawMargin();
    }
    FLeftBox->update();
    FWaveBox->update();
    FRightBox->update();
    FColumnIndex.resize(std::size_t(Wave.Width()), 0);
    if (FMappedLo != 0 || FMappedHi != 0)
        MapValueColumns();
}

void TSpektroNeu::SetValueAxis(double Origin, double PerPixel)
{
    if (!std::isfinite(Origin) || !std::isfinite(PerPixel))
        Origin = PerPixel = 0.0;
    if (Origin == FAxisOrigin && PerPixel == FAxisPerPixel)
        return;
    FAxisOrigin = Origin;
    FAxisPerPixel = PerPixel;
    if (FMappedLo != 0 || FMappedHi != 0)
        MapValueColumns();
}

void TSpektroNeu::MapValueColumns()
{
    if (FAxisPerPixel > 0.0)
        quillex::MapColumnsOnAxis(FColumnIndex, FMappedHi + 1, FAxisOrigin, FAxisPerPixel / FRatio);
    else
        quillex::MapColumns(FColumnIndex, FMappedLo, FMappedHi);
}

std::int64_t TSpektroNeu::RowBottom(std::int64_t Row) const
{
    return Wave.Height() - (quillex::RowEdge(FRows, FRatio) - quillex::RowEdge(Row + 1, FRatio));
}

int TSpektroNeu::RowTop(int Age) const
{
    return static_cast<int>(RowBottom(FRows - 1 - Age) - RowDeviceHeight(Age));
}

int TSpektroNeu::RowDeviceHeight(int Age) const
{
    return quillex::RowHeight(FRows - 1 - Age, FRatio);
}

// The newest rows stay at the bottom, where the scrolling puts them, and every row is scaled
// from the width it was painted with by the same rule that maps values to columns, so its
// carriers keep their places on the frequency axis. Nearest column, no smoothing: this runs on
// every step of a drag.
void TSpektroNeu::RescaleWaveRows(int Width, int Height, bool Relayout)
{
    const bool sameWidth = Width == Wave.Width();
    if (!Relayout && sameWidth && Height == Wave.Height())
        return;
    // At the same width the rows keep their columns: only the oldest go or black comes on top.
    const bool keep = sameWidth && !Relayout;
    // Every row is painted below, and black above the rows: no need to blank it all first.
    Wave.Resize(Width, Height, keep, false);
    WaveRows.Reserve(Wave.Width(), FRowsKept);
    if (keep || Wave.Empty())
        return;
    std::vector<std::int32_t> source(std::size_t(Wave.Width()));
    std::size_t mappedFrom = 0;
    int bottom = Wave.Height();
    for (int age = 0; age < WaveRows.Size() && bottom > 0; ++age) {
        const int top = bottom - RowDeviceHeight(age);
        const std::span<const std::uint32_t> from = WaveRows.Newest(age);
        std::uint32_t* to = Wave.Row(std::max(top, 0));
        if (from.size() == source.size()) {
            std::copy(from.begin(), from.end(), to);
        } else {
            if (from.size() != mappedFrom) {
                quillex::MapColumns(source, 0, int(from.size()) - 1);
                mappedFrom = from.size();
            }
            for (std::size_t x = 0; x < source.size(); ++x)
                to[x] = from[std::size_t(source[x])];
        }
        for (int y = std::max(top, 0) + 1; y < bottom; ++y)
            std::copy_n(to, source.size(), Wave.Row(y));
        bottom = top;
    }
    const int first = std::max(bottom, 0);
    Wave.CommitRows(first, Wave.Height() - first);
    Wave.FillRows(0, first);
}

void TSpektroNeu::AddLine(std::span<const float> Levels)
{
    // No values means nothing to show, and a map over them would point outside the array.
    if (Levels.empty() || Levels.size() > std::size_t(INT_MAX))
        return;
    const int last = int(Levels.size()) - 1;
    if (FMappedLo != 0 || FMappedHi != last) {
        FMappedLo = 0;
        FMappedHi = last;
        MapValueColumns();
    }
    if (FWaveBox->height() <= 1)
        return;
    const int rows = quillex::RowHeight(FRows, FRatio);
    ScrollLeftMargin(rows);
    PaintWaveRow(Levels, rows);
    ++FRows;
    if (!FMarginItems.empty())
        ForgetOldMarginItems();
    if (!FPendingMarks.empty())
        DrawPendingMarks();
    UpdateArea(FLeftBox, !std::exchange(FMarginDrawn, false));
}

// On a whole ratio the rows on screen move up inside the window surface, one block copy, and
// only the new row is copied from the image; without an opaque area Qt repaints all anyway.
// Rows of a fractional ratio differ in height, so the whole area is copied again.
void TSpektroNeu::UpdateArea(QWidget* Box, bool Scrolled)
{
    if (Scrolled && IsWhole(FRatio))
        Box->scroll(0, -1);
    else
        Box->update();
}

// The bottom row is carried up unchanged except for the axis, which repeated every line draws
// the vertical time axis.
void TSpektroNeu::ScrollLeftMargin(int Rows)
{
    if (Left.Empty())
        return;
    Left.ScrollUp(Rows, true);
    DrawAxis(Left.Height() - Rows);
}

// The axis runs from device row First (or the top) to the bottom edge.
void TSpektroNeu::DrawAxis(int First)
{
    if (FLeftBox->width() < AxisOffset || Left.Empty())
        return;
    const int x = Left.Width() - Device(AxisOffset);
    const int width = std::min(quillex::DeviceLineWidth(FRatio), Left.Width() - x);
    First = std::max(First, 0);
    for (int y = First; y < Left.Height(); ++y)
        std::fill_n(Left.Row(y) + x, width, Black);
    Left.CommitRows(First, Left.Height() - First);
}

void TSpektroNeu::PaintWaveRow(std::span<const float> Levels, int Rows)
{
    if (Wave.Empty())
        return;
    Wave.ScrollUp(Rows, false);
    Rows = std::min(Rows, Wave.Height());
    const int first = Wave.Height() - Rows;
    std::uint32_t* row = Wave.Row(first);
    const int width = Wave.Width();
    Colors.FillRow(Levels.data(), FColumnIndex, row);
    // The highlighted columns are logical columns: all their device columns are lit.
    const std::uint32_t lit = quillex::SpektroHighlightMask * 0x010101u;
    const auto column = [this](int Logical) {
        return Device(std::clamp(Logical, -1, INT_MAX / 8));
    };
    const int litEnd = std::min(column(std::min(FHighlightMax, INT_MAX / 8) + 1), width);
    for (int x = std::max(column(FHighlightMin), 0); x < litEnd; ++x)
        row[x] ^= lit;
    for (std::size_t i = 0; i < FPendingMarks.size(); ++i)
        DrawMarkLine(row, width, FPendingMarks[i].Colour, int(i));
    for (int y = first + 1; y < Wave.Height(); ++y)
        std::memcpy(Wave.Row(y), row, std::size_t(width) * 4);
    Wave.CommitRows(first, Rows);
    WaveRows.Push({row, std::size_t(width)});
    UpdateArea(FWaveBox, true);
}

void TSpektroNeu::Clear()
{
    const QRgb menu = MenuBarColour();
    Left.SetBackground(menu);
    Left.Fill(menu);
    Wave.Fill(Black);
    WaveRows.Clear();
    FMarginItems.clear();
    FPendingMarks.clear();
    FFirstRow = FRows;
    FLeftBox->update();
    FWaveBox->update();
}
