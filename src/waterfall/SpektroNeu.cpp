#include "SpektroNeu.h"

#include "DateTimeU.h"
#include "SpektroNeuArea.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <climits>

namespace {

constexpr QRgb Black = 0xff000000u;
// The time axis runs this many pixels left of the waterfall.
constexpr int AxisOffset = 10;

QRgb MenuBarColour()
{
    return QApplication::palette().color(QPalette::Window).rgb();
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
    ResizeBuffers();
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
    const QRgb menu = MenuBarColour();
    Left.SetBackground(menu);
    Right.SetBackground(menu);
    Left.Resize(FLeftBox->width(), FLeftBox->height());
    RescaleWaveRows(FWaveBox->width(), FWaveBox->height());
    Right.Resize(FRightBox->width(), FRightBox->height());
    FLeftBox->update();
    FWaveBox->update();
    FRightBox->update();
    FColumnIndex.resize(std::size_t(Wave.Width()), 0);
    if (FMappedLo != 0 || FMappedHi != 0)
        quillex::MapColumns(FColumnIndex, FMappedLo, FMappedHi);
}

// The newest rows stay at the bottom, where the scrolling puts them, and every row is scaled
// from the width it was painted with by the same rule that maps values to columns, so its
// carriers keep their places on the frequency axis. Nearest column, no smoothing: this runs on
// every step of a drag.
void TSpektroNeu::RescaleWaveRows(int Width, int Height)
{
    const bool sameWidth = Width == Wave.Width();
    if (sameWidth && Height == Wave.Height())
        return;
    // At the same width the rows keep their columns: only the oldest go or black comes on top.
    Wave.Resize(Width, Height, sameWidth);
    WaveRows.Reserve(Wave.Width(), Wave.Height());
    if (sameWidth || Wave.Empty())
        return;
    const int rows = WaveRows.Size();
    std::vector<std::int32_t> source(std::size_t(Wave.Width()));
    std::size_t mappedFrom = 0;
    for (int age = 0; age < rows; ++age) {
        const std::span<const std::uint32_t> from = WaveRows.Newest(age);
        std::uint32_t* to = Wave.Row(Wave.Height() - 1 - age);
        if (from.size() == source.size()) {
            std::copy(from.begin(), from.end(), to);
            continue;
        }
        if (from.size() != mappedFrom) {
            quillex::MapColumns(source, 0, int(from.size()) - 1);
            mappedFrom = from.size();
        }
        for (std::size_t x = 0; x < source.size(); ++x)
            to[x] = from[std::size_t(source[x])];
    }
    Wave.CommitRows(Wave.Height() - rows, rows);
}

void TSpektroNeu::AddLine(std::span<const float> Levels)
{
    // No values means nothing to show, and a map over them would point outside the array.
    if (Levels.empty() || Levels.size() > std::size_t(INT_MAX))
        return;
    const int last = int(Levels.size()) - 1;
    if (FMappedLo != 0 || FMappedHi != last) {
        quillex::MapColumns(FColumnIndex, 0, last);
        FMappedLo = 0;
        FMappedHi = last;
    }
    if (Wave.Height() <= 1)
        return;
    ScrollLeftMargin();
    PaintWaveRow(Levels);
}

// The bottom row is carried up unchanged except for the axis pixel, which repeated every
// line draws the vertical time axis.
void TSpektroNeu::ScrollLeftMargin()
{
    if (Left.Empty())
        return;
    Left.ScrollUp();
    const int bottom = Left.Height() - 1;
    if (Left.Width() >= AxisOffset) {
        Left.Row(bottom)[Left.Width() - AxisOffset] = Black;
        Left.CommitRows(bottom, 1);
    }
    FLeftBox->update();
}

void TSpektroNeu::PaintWaveRow(std::span<const float> Levels)
{
    if (Wave.Empty())
        return;
    Wave.ScrollUp();
    const int bottom = Wave.Height() - 1;
    std::uint32_t* row = Wave.Row(bottom);
    const int width = Wave.Width();
    for (int x = 0; x < width; ++x) {
        const int level =
            quillex::RoundLevelFast(Levels[std::size_t(FColumnIndex[std::size_t(x)])]);
        const bool lit = FHighlightMin <= x && x <= FHighlightMax;
        row[x] = Colors.LevelToPixel(level, lit ? quillex::SpektroHighlightMask : 0);
    }
    Wave.CommitRows(bottom, 1);
    WaveRows.Push({row, std::size_t(width)});
    // The rows already on screen move up inside the window surface, one block copy, and
    // only the new row is copied from the image. Without an opaque area Qt repaints all.
    FWaveBox->scroll(0, -1);
}

void TSpektroNeu::AddTimeMark(const QString& Format, double Time)
{
    if (Left.Empty())
        return;
    const int w = Left.Width();
    const int h = Left.Height();
    const QString text =
        QString::fromStdString(quillex::FormatDateTime(Format.toStdString(), Time));
    QImage view = Left.PaintView();
    {
        QPainter painter(&view);
        // Ten pixels crossing the axis line.
        painter.fillRect(QRect(w - AxisOffset - 4, h - 2, 10, 1), QColor(Black));
        painter.setFont(FTimeMarkFont);
        painter.setPen(QColor(Black));
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.setBackground(QColor(MenuBarColour()));
        painter.drawText(QPoint(0, h - 12 + painter.fontMetrics().ascent()), text);
    }
    Left.CommitRows(h - 12, 12);
}

void TSpektroNeu::Clear()
{
    const QRgb menu = MenuBarColour();
    Left.SetBackground(menu);
    Left.Fill(menu);
    Wave.Fill(Black);
    WaveRows.Clear();
    FLeftBox->update();
    FWaveBox->update();
}
