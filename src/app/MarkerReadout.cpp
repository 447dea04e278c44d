#include "MarkerReadout.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

namespace {
constexpr int Margin = 4;
} // namespace

TMarkerReadout::TMarkerReadout(QWidget* Parent) : QWidget(Parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TMarkerReadout::SetTexts(const QStringList& Texts)
{
    if (Texts == FTexts)
        return;
    FTexts = Texts;
    FName.Set(Text());
    const int needed = Needed();
    if (needed > FWidth) {
        FWidth = needed;
        updateGeometry();
    }
    update();
}

QString TMarkerReadout::Text() const
{
    return FTexts.join(QStringLiteral("    "));
}

int TMarkerReadout::Gap() const
{
    return 4 * fontMetrics().horizontalAdvance(QLatin1Char(' '));
}

int TMarkerReadout::TextLeft(int Index) const
{
    const QFontMetrics fm = fontMetrics();
    int x = Margin;
    for (int i = 0; i < Index && i < FTexts.size(); ++i)
        x += fm.horizontalAdvance(FTexts[i]) + Gap();
    return x;
}

int TMarkerReadout::Needed() const
{
    return FTexts.isEmpty() ? 0 : TextLeft(int(FTexts.size())) - Gap() + Margin;
}

QSize TMarkerReadout::sizeHint() const
{
    return QSize(FWidth, fontMetrics().height() + 2);
}

QSize TMarkerReadout::minimumSizeHint() const
{
    return sizeHint();
}

void TMarkerReadout::changeEvent(QEvent* Event)
{
    if (Event->type() == QEvent::FontChange) {
        FWidth = Needed();
        updateGeometry();
    }
    QWidget::changeEvent(Event);
}

void TMarkerReadout::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics fm = fontMetrics();
    const int baseline = 1 + fm.ascent();
    for (int i = 0; i < FTexts.size(); ++i)
        p.drawText(TextLeft(i), baseline, FTexts[i]);
}
