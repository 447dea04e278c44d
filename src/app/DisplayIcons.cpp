#include "DisplayIcons.h"

#include "dxToolGlyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace {

const QColor Ink(32, 32, 32);
const QColor Trace(0, 150, 0);
const QColor Cross(200, 30, 30);
const QColor Board(176, 128, 64);

void DrawTrace(QPainter& P, double Left, double Right, double Base)
{
    QPainterPath path;
    const double step = (Right - Left) / 6.0;
    const double heights[] = {0.5, 1.5, 0.8, 5.0, 1.2, 2.2, 0.6};
    path.moveTo(Left, Base - heights[0]);
    for (int i = 1; i < 7; ++i)
        path.lineTo(Left + i * step, Base - heights[i]);
    P.drawPath(path);
}

void DrawClear(QPainter& P, bool Enabled)
{
    P.setPen(QPen(Enabled ? Ink : Qt::gray, 1.5));
    P.setBrush(Qt::black);
    P.drawRect(QRectF(2.5, 3.5, 19, 14));
    P.setBrush(Qt::NoBrush);
    P.setPen(QPen(Enabled ? Trace : Qt::gray, 1.2));
    DrawTrace(P, 4, 20, 15);
    // The cross says the picture goes away.
    P.setPen(QPen(Enabled ? Cross : Qt::darkGray, 2.5, Qt::SolidLine, Qt::RoundCap));
    P.drawLine(QPointF(12, 12), QPointF(21, 21));
    P.drawLine(QPointF(21, 12), QPointF(12, 21));
}

void DrawCopy(QPainter& P, bool Enabled)
{
    P.setPen(QPen(Enabled ? Ink : Qt::gray, 1.5));
    P.setBrush(Enabled ? Board : QColor(Qt::lightGray));
    P.drawRoundedRect(QRectF(4, 3.5, 16, 19), 1.5, 1.5);
    P.setBrush(Qt::white);
    P.drawRect(QRectF(6.5, 6.5, 11, 13.5));
    P.setBrush(Enabled ? Ink : QColor(Qt::gray));
    P.drawRoundedRect(QRectF(8.5, 1.5, 7, 4), 1, 1);
    P.setBrush(Qt::NoBrush);
    P.setPen(QPen(Enabled ? Trace : Qt::gray, 1.2));
    DrawTrace(P, 7.5, 16.5, 17.5);
}

void DrawGrid(QPainter& P, bool Enabled)
{
    P.setPen(QPen(Enabled ? Ink : Qt::gray, 1.5));
    P.setBrush(Qt::NoBrush);
    P.drawRect(QRectF(2.5, 2.5, 19, 19));
    P.setPen(QPen(Enabled ? Ink : Qt::gray, 1.0));
    for (const double at : {8.83, 15.17}) {
        P.drawLine(QPointF(at, 2.5), QPointF(at, 21.5));
        P.drawLine(QPointF(2.5, at), QPointF(21.5, at));
    }
}

} // namespace

QIcon DisplayIcon(TDisplayIcon Kind)
{
    return VectorIcon([Kind](QPainter& P, QIcon::Mode Mode) {
        const bool enabled = Mode != QIcon::Disabled;
        switch (Kind) {
        case TDisplayIcon::Clear:
            DrawClear(P, enabled);
            break;
        case TDisplayIcon::Copy:
            DrawCopy(P, enabled);
            break;
        case TDisplayIcon::Grid:
            DrawGrid(P, enabled);
            break;
        }
    });
}
