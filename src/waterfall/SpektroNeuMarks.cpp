#include "SpektroNeu.h"

#include "DateTimeU.h"
#include "SpektroNeuArea.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <algorithm>

// The left margin: time marks, the labels of marked rows, and drawing it all again when the
// device pixel ratio changes.

namespace {

constexpr QRgb Black = 0xff000000u;
// Time mark texts start this many logical pixels above the bottom edge of their row.
constexpr int TimeTextHeight = 12;
// Dashes of a mark line, in logical pixels: drawn, then left open, so the row still shows.
constexpr int DashOn = 4;
constexpr int DashOff = 4;
// Room around a label's text inside its box, in logical pixels.
constexpr int LabelPad = 2;
// How far above its row a label or time text can reach, in logical pixels.
constexpr int LabelReach = 120;

QRgb MenuBarColour()
{
    return QApplication::palette().color(QPalette::Window).rgb();
}

// Black text on light colours, white on dark ones.
QColor TextOn(const QColor& Colour)
{
    const int luma = 299 * Colour.red() + 587 * Colour.green() + 114 * Colour.blue();
    return luma > 128000 ? QColor(Qt::black) : QColor(Qt::white);
}

} // namespace

void TSpektroNeu::AddTimeMark(const QString& Format, double Time)
{
    AddTimeText(QString::fromStdString(quillex::FormatDateTime(Format.toStdString(), Time)));
}

QStringList TSpektroNeu::TimeTexts() const
{
    QStringList texts;
    for (const TMarginItem& item : FMarginItems)
        if (!item.IsMark)
            texts << item.Text;
    return texts;
}

void TSpektroNeu::AddTimeText(const QString& Text)
{
    if (Left.Empty())
        return;
    TMarginItem item;
    item.Row = FRows - 1;
    item.Text = Text;
    FMarginItems.push_back(std::move(item));
    DrawTimeMark(FMarginItems.size() - 1);
    FMarginDrawn = true;
}

// The box a time mark's text covers, in device pixels.
QRect TSpektroNeu::TimeTextBox(const TMarginItem& Item) const
{
    const QFontMetrics metrics(FTimeMarkFont);
    const int top = static_cast<int>(RowBottom(Item.Row)) - Device(TimeTextHeight);
    return QRect(0, top, Device(metrics.horizontalAdvance(Item.Text)), Device(metrics.height()));
}

// Ten pixels crossing the axis line, one row above the bottom edge of the row, and the text
// above them on the margin's background; the text is left out where a mark's label is.
void TSpektroNeu::DrawTimeMark(std::size_t Index)
{
    TMarginItem& item = FMarginItems[Index];
    const int bottom = static_cast<int>(RowBottom(item.Row));
    const int line = quillex::DeviceLineWidth(FRatio);
    const int tickLeft = Left.Width() - Device(AxisOffset) - Device(4);
    const int tickTop = bottom - 2 * line;
    const int tickRight = std::min(tickLeft + Device(10), Left.Width());
    for (int y = std::max(tickTop, 0); y < std::min(tickTop + line, Left.Height()); ++y)
        for (int x = std::max(tickLeft, 0); x < tickRight; ++x)
            Left.Row(y)[x] = Black;
    Left.CommitRows(tickTop, line);
    const QRect text = TimeTextBox(item);
    item.Shown = !NearbyLabelMeets(Index, text);
    if (!item.Shown)
        return;
    const int top = bottom - Device(TimeTextHeight);
    QImage view = Left.PaintView();
    view.setDevicePixelRatio(FRatio);
    {
        QPainter painter(&view);
        painter.setFont(FTimeMarkFont);
        painter.setPen(QColor(Black));
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.setBackground(QColor(MenuBarColour()));
        painter.drawText(QPointF(0, top / FRatio + painter.fontMetrics().ascent()), item.Text);
    }
    Left.CommitRows(top, text.bottom() + 1 - top);
}

// Whether a label shown before item Index meets Box; for a label, those of its own row do not
// count, they are stacked. Labels sit at most a few rows above their line, so the search ends
// where the rows are far apart.
bool TSpektroNeu::NearbyLabelMeets(std::size_t Index, const QRect& Box) const
{
    const TMarginItem& item = FMarginItems[Index];
    for (std::size_t i = Index; i-- > 0;) {
        const TMarginItem& before = FMarginItems[i];
        if (RowBottom(before.Row) < Box.top() - Device(LabelReach))
            break;
        if (before.IsMark && before.Shown && !(item.IsMark && before.Row == item.Row) &&
            LabelBox(i, LabelLines(before.Text)).intersects(Box))
            return true;
    }
    return false;
}

void TSpektroNeu::AddMark(const QString& Label, const QColor& Colour)
{
    TMarginItem mark;
    mark.IsMark = true;
    mark.Text = Label;
    mark.Colour = Colour.isValid() ? Colour : QColor(Qt::black);
    FPendingMarks.push_back(std::move(mark));
}

std::vector<TSpektroNeu::TMarkInfo> TSpektroNeu::Marks() const
{
    std::vector<TMarkInfo> marks;
    for (const TMarginItem& item : FMarginItems)
        if (item.IsMark)
            marks.push_back(
                {static_cast<int>(FRows - 1 - item.Row), item.Text, item.Colour, item.Shown});
    return marks;
}

// Several marks at one row take turns, dash by dash.
void TSpektroNeu::DrawMarkLine(std::uint32_t* Row, int Width, const QColor& Colour, int Turn) const
{
    const std::uint32_t pixel = 0xff000000u | Colour.rgb();
    const int on = std::max(Device(DashOn), 1);
    const int period = on + std::max(Device(DashOff), 1);
    const int shift = period - (Turn * on) % period;
    for (int x = 0; x < Width; ++x)
        if ((x + shift) % period < on)
            Row[x] = pixel;
}

// Runs once the marked row is the newest one.
void TSpektroNeu::DrawPendingMarks()
{
    for (TMarginItem& mark : FPendingMarks) {
        mark.Row = FRows - 1;
        FMarginItems.push_back(std::move(mark));
        if (!Left.Empty())
            FMarginItems.back().Shown = DrawMarkLabel(FMarginItems.size() - 1);
    }
    FPendingMarks.clear();
    FMarginDrawn = true;
}

// The parts of the label, joined on one line as far as the room left of the time axis allows.
QStringList TSpektroNeu::LabelLines(const QString& Label) const
{
    const QFontMetrics metrics(FTimeMarkFont);
    const int room = FLeftBox->width() - AxisOffset - 4 - 2 * LabelPad;
    const QString separator = QStringLiteral(", ");
    QStringList lines;
    for (const QString& part : Label.split(separator)) {
        if (!lines.isEmpty() &&
            metrics.horizontalAdvance(lines.back() + separator + part) <= room) {
            lines.back() += separator + part;
            continue;
        }
        if (!lines.isEmpty())
            lines.back() += QLatin1Char(',');
        lines << part;
    }
    return lines;
}

// The label's box in device pixels: it ends at the top edge of its row, above a time mark
// written just before the row and above the labels of earlier marks at the same row.
QRect TSpektroNeu::LabelBox(std::size_t Index, const QStringList& Lines) const
{
    const TMarginItem& item = FMarginItems[Index];
    const QFontMetrics metrics(FTimeMarkFont);
    int bottom = static_cast<int>(RowBottom(item.Row - 1));
    bool timeMark = false;
    for (std::size_t i = Index; i-- > 0;) {
        const TMarginItem& before = FMarginItems[i];
        if (before.Row < item.Row - 1)
            break;
        if (!before.IsMark && before.Row == item.Row - 1)
            timeMark = true;
        else if (before.IsMark && before.Row == item.Row && before.Shown)
            bottom -= LabelBox(i, LabelLines(before.Text)).height();
    }
    if (timeMark)
        bottom -= Device(TimeTextHeight);
    int width = 0;
    for (const QString& line : Lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    const int height = Device(int(Lines.size()) * metrics.height() + LabelPad);
    return QRect(0, bottom - height, Device(width + 2 * LabelPad), height);
}

// Draws the label unless it would cover the label of an earlier row; the texts of time marks
// it covers are taken away whole rather than left cut.
bool TSpektroNeu::DrawMarkLabel(std::size_t Index)
{
    const TMarginItem& item = FMarginItems[Index];
    const QStringList lines = LabelLines(item.Text);
    const QRect box = LabelBox(Index, lines);
    if (NearbyLabelMeets(Index, box))
        return false;
    QImage view = Left.PaintView();
    view.setDevicePixelRatio(FRatio);
    QPainter painter(&view);
    const auto logical = [this](const QRect& Device) {
        return QRectF(Device.x() / FRatio, Device.y() / FRatio, Device.width() / FRatio,
                      Device.height() / FRatio);
    };
    for (std::size_t i = Index; i-- > 0;) {
        TMarginItem& before = FMarginItems[i];
        if (RowBottom(before.Row) < box.top() - Device(LabelReach))
            break;
        const QRect text = before.IsMark ? QRect() : TimeTextBox(before);
        if (!before.IsMark && before.Shown && text.intersects(box)) {
            const QRect cut =
                text & QRect(0, 0, Left.Width() - Device(AxisOffset) - Device(4), Left.Height());
            painter.fillRect(logical(cut), QColor(MenuBarColour()));
            Left.CommitRows(cut.top(), cut.height());
            before.Shown = false;
        }
    }
    painter.fillRect(logical(box), item.Colour);
    painter.setFont(FTimeMarkFont);
    painter.setPen(TextOn(item.Colour));
    const QFontMetrics metrics(FTimeMarkFont);
    double baseline = box.y() / FRatio + LabelPad / 2.0 + metrics.ascent();
    for (const QString& line : lines) {
        painter.drawText(QPointF(box.x() / FRatio + LabelPad, baseline), line);
        baseline += metrics.height();
    }
    painter.end();
    Left.CommitRows(box.top(), box.height());
    return true;
}

// Time marks and labels whose rows have scrolled out of the images are dropped.
void TSpektroNeu::ForgetOldMarginItems()
{
    while (!FMarginItems.empty() && FRows - 1 - FMarginItems.front().Row > FRowsKept)
        FMarginItems.pop_front();
}

void TSpektroNeu::RedrawMargin()
{
    Left.Fill(MenuBarColour());
    if (Left.Empty())
        return;
    ForgetOldMarginItems();
    const std::int64_t first = std::max(FFirstRow, FRows - FRowsKept);
    const int top = static_cast<int>(std::max<std::int64_t>(RowBottom(first - 1), 0));
    DrawAxis(top);
    for (std::size_t i = 0; i < FMarginItems.size(); ++i) {
        if (FMarginItems[i].IsMark)
            FMarginItems[i].Shown = DrawMarkLabel(i);
        else
            DrawTimeMark(i);
    }
    Left.CommitRows(0, Left.Height());
}
