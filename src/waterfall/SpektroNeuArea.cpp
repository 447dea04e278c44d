#include "SpektroNeuArea.h"

#include "SpektroNeu.h"
#include "SpektroNeuImage.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

TSpektroArea::TSpektroArea(TSpektroNeu* Owner, const TSpektroImage& Image, bool RoutesMouse)
    : QWidget(Owner), Control(Owner), Image(Image), RoutesMouse(RoutesMouse)
{
    // Move events are reported without a pressed button too.
    setMouseTracking(RoutesMouse);
}

// The image holds device pixels: the dirty part is copied 1:1 onto the screen's pixels.
void TSpektroArea::paintEvent(QPaintEvent* Event)
{
    const double ratio = Control->Ratio();
    const QRectF dirty(Event->rect());
    const QRect device = QRectF(dirty.topLeft() * ratio, dirty.size() * ratio).toAlignedRect() &
                         QRect(0, 0, Image.Width(), Image.Height());
    if (Image.Empty() || device.isEmpty())
        return;
    QPainter painter(this);
    const QRectF target(QPointF(device.topLeft()) / ratio, QSizeF(device.size()) / ratio);
    painter.drawImage(target, Image.Storage(), device.translated(Image.Window().topLeft()));
}

void TSpektroArea::mousePressEvent(QMouseEvent* Event)
{
    if (!RoutesMouse || !Control->OnMouseDown)
        return QWidget::mousePressEvent(Event);
    const QPoint at = Event->position().toPoint();
    Control->OnMouseDown(this, Event->button(), Event->modifiers(), at.x(), at.y());
}

void TSpektroArea::mouseReleaseEvent(QMouseEvent* Event)
{
    if (!RoutesMouse || !Control->OnMouseUp)
        return QWidget::mouseReleaseEvent(Event);
    const QPoint at = Event->position().toPoint();
    Control->OnMouseUp(this, Event->button(), Event->modifiers(), at.x(), at.y());
}

void TSpektroArea::mouseMoveEvent(QMouseEvent* Event)
{
    if (!RoutesMouse || !Control->OnMouseMove)
        return QWidget::mouseMoveEvent(Event);
    const QPoint at = Event->position().toPoint();
    Control->OnMouseMove(this, Event->modifiers(), at.x(), at.y());
}

// The second press of a double click arrives here instead of a press: report the double
// click, then the press, so a press handler sees every press.
void TSpektroArea::mouseDoubleClickEvent(QMouseEvent* Event)
{
    if (!RoutesMouse)
        return QWidget::mouseDoubleClickEvent(Event);
    if (Event->button() == Qt::LeftButton && Control->OnDblClick)
        Control->OnDblClick(this);
    mousePressEvent(Event);
}
