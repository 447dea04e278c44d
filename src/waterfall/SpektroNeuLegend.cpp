#include "SpektroNeuLegend.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <algorithm>

namespace {

// Labels at least this many lines apart, and two from the ends, whose texts stand inside the
// bar.
constexpr double LabelSpacingLines = 2.5;
constexpr double EndSpacingLines = 2.0;
// From the bar's right edge to the text.
constexpr int TextGap = TSpektroLegend::TickLength + 2;

} // namespace

TSpektroLegend::TSpektroLegend(QWidget* Parent) : QWidget(Parent)
{
    FFont = QFont(QStringLiteral("Arial"));
    FFont.setPixelSize(11);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Room for the widest label the level bars give without an offset.
    for (const char* text : {"dBm", "-140"})
        GrowFor(QString::fromLatin1(text));
    Colors.SetRange(FZMin, FZMax);
}

QString TSpektroLegend::LabelText(double Shown)
{
    return QString::asprintf("%0.0f", Shown);
}

int TSpektroLegend::CaptionHeight() const
{
    return QFontMetrics(FFont).height();
}

void TSpektroLegend::GrowFor(const QString& Text)
{
    const int width = BarWidth + TextGap + QFontMetrics(FFont).horizontalAdvance(Text) + 1;
    FNeededWidth = std::max(FNeededWidth, width);
}

void TSpektroLegend::SetScale(float ZMin, float ZMax, float Offset)
{
    if (ZMin == FZMin && ZMax == FZMax && Offset == FOffset && !FPicture.isNull())
        return;
    FZMin = ZMin;
    FZMax = ZMax;
    FOffset = Offset;
    Colors.SetRange(FZMin, FZMax);
    Redraw();
}

void TSpektroLegend::resizeEvent(QResizeEvent* Event)
{
    QWidget::resizeEvent(Event);
    Redraw();
}

void TSpektroLegend::showEvent(QShowEvent* Event)
{
    QWidget::showEvent(Event);
    if (FPicture.devicePixelRatio() != devicePixelRatioF())
        Redraw();
}

bool TSpektroLegend::event(QEvent* Event)
{
    if (Event->type() == QEvent::ScreenChangeInternal)
        Redraw();
    return QWidget::event(Event);
}

void TSpektroLegend::Redraw()
{
    const double ratio = devicePixelRatioF();
    const auto device = [ratio](int Logical) { return quillex::DeviceLength(Logical, ratio); };
    const QFontMetrics metrics(FFont);
    FPicture =
        QImage(std::max(device(width()), 1), std::max(device(height()), 1), QImage::Format_RGB32);
    FPicture.setDevicePixelRatio(ratio);
    FPicture.fill(QApplication::palette().color(QPalette::Window));

    // The bar, one level per device row, coloured as the waterfall colours that level.
    const int barTop = device(CaptionHeight());
    const int rows = FPicture.height() - barTop;
    const int barWidth = std::min(device(BarWidth), FPicture.width());
    for (int row = 0; row < rows; ++row) {
        const double level = quillex::LegendLevel(row, rows, FZMin, FZMax);
        const std::uint32_t pixel =
            Colors.LevelToPixel(quillex::RoundLevel(static_cast<float>(level)), 0);
        std::fill_n(reinterpret_cast<std::uint32_t*>(FPicture.scanLine(barTop + row)), barWidth,
                    pixel);
    }

    FTicks = quillex::LegendTicks(FZMin, FZMax, FOffset, rows,
                                  device(int(metrics.height() * LabelSpacingLines)),
                                  device(int(metrics.height() * EndSpacingLines)));
    const int line = quillex::DeviceLineWidth(ratio);
    QPainter painter(&FPicture);
    painter.setFont(FFont);
    // The normal text colour: the picture outlives the window's state when it was drawn (an
    // inactive or disabled window's text may be grey).
    painter.setPen(palette().color(QPalette::Active, QPalette::WindowText));
    painter.drawText(QPointF(0, metrics.ascent()), QStringLiteral("dBm"));
    QStringList labels;
    const double top = barTop / ratio;
    const double bottom = FPicture.height() / ratio;
    for (quillex::TLegendTick& tick : FTicks) {
        tick.Row += barTop;
        // A line from the bar's edge, as wide as the screen draws one logical pixel.
        const int y = std::min(tick.Row, FPicture.height() - line);
        painter.fillRect(QRectF(barWidth / ratio, y / ratio, TickLength, line / ratio),
                         painter.pen().color());
        // The text centred on its tick, but kept beside the bar.
        const QString text = LabelText(tick.Shown);
        labels << text;
        GrowFor(text);
        const double centre = (tick.Row + 0.5) / ratio;
        const double textTop =
            std::clamp(centre - metrics.height() / 2.0, top, bottom - metrics.height());
        painter.drawText(QPointF(BarWidth + TextGap, textTop + metrics.ascent()), text);
    }
    // Top to bottom, as the labels read.
    FName.Set(QStringLiteral("dBm ") + labels.join(QStringLiteral(", ")));
    update();
}

void TSpektroLegend::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), FPicture);
}
