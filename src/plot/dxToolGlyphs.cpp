#include "dxToolGlyphs.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QColor Ink(32, 32, 32);
const QColor CurveInk(0, 110, 0);
const QColor RefInk(200, 0, 0);
const QColor Accent(0, 70, 180);

// Every glyph is drawn in a 24 x 24 design square scaled to the requested rectangle. Round caps
// and joins keep thin strokes from looking ragged at small sizes.
void UsePen(QPainter& p, const QColor& c, double width)
{
    QPen q(c, width);
    q.setCapStyle(Qt::RoundCap);
    q.setJoinStyle(Qt::RoundJoin);
    p.setPen(q);
    p.setBrush(Qt::NoBrush);
}

// The spectrum curve most glyphs show, drawn with the current pen.
void DrawWave(QPainter& p)
{
    QPainterPath path(QPointF(3, 14));
    path.cubicTo(7, 4, 10, 20, 13, 12);
    path.cubicTo(16, 6, 18, 14, 21, 10);
    p.drawPath(path);
}

void DrawArrow(QPainter& p, QPointF from, QPointF to)
{
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::max(1.0, std::hypot((to - from).x(), (to - from).y()));
    const QPointF n(-d.y(), d.x());
    p.drawLine(to, to - 3 * d + 2.5 * n);
    p.drawLine(to, to - 3 * d - 2.5 * n);
}

// Arrows from the middle of a and b out to both.
void DrawDoubleArrow(QPainter& p, QPointF a, QPointF b)
{
    const QPointF middle = (a + b) / 2;
    DrawArrow(p, middle, a);
    DrawArrow(p, middle, b);
}

void DrawHairCross(QPainter& p)
{
    UsePen(p, Ink, 1.6);
    p.drawLine(QPointF(12, 2), QPointF(12, 22));
    p.drawLine(QPointF(2, 12), QPointF(22, 12));
    UsePen(p, RefInk, 1.6);
    p.drawEllipse(QPointF(12, 12), 4.5, 4.5);
}

void DrawZoom(QPainter& p)
{
    UsePen(p, Ink, 2.2);
    p.drawEllipse(QPointF(10, 10), 6, 6);
    p.drawLine(QPointF(14.5, 14.5), QPointF(21, 21));
    UsePen(p, Accent, 1.6);
    p.drawLine(QPointF(7, 10), QPointF(13, 10));
    p.drawLine(QPointF(10, 7), QPointF(10, 13));
}

// The curve with a reference arc above or below it.
void DrawReference(QPainter& p, bool upper)
{
    UsePen(p, CurveInk, 1.8);
    DrawWave(p);
    UsePen(p, RefInk, 2.2);
    const double end = upper ? 5 : 20, bulge = upper ? 1 : 24;
    QPainterPath ref(QPointF(3, end));
    ref.cubicTo(9, bulge, 15, bulge, 21, end);
    p.drawPath(ref);
}

void DrawCurves(QPainter& p)
{
    UsePen(p, CurveInk, 1.8);
    DrawWave(p);
    UsePen(p, Ink, 1.4);
    p.drawLine(QPointF(13, 5), QPointF(13, 19));
    p.drawLine(QPointF(6, 12), QPointF(20, 12));
}

// Two bars with a double arrow spanning the gap between them.
void DrawCalculate(QPainter& p)
{
    UsePen(p, Ink, 1.6);
    p.drawLine(QPointF(5, 3), QPointF(5, 21));
    p.drawLine(QPointF(19, 3), QPointF(19, 21));
    UsePen(p, Accent, 1.6);
    DrawDoubleArrow(p, QPointF(6.5, 12), QPointF(17.5, 12));
}

void DrawAutoScale(QPainter& p)
{
    UsePen(p, CurveInk, 1.8);
    DrawWave(p);
    UsePen(p, Accent, 1.6);
    DrawDoubleArrow(p, QPointF(21, 2.5), QPointF(21, 21.5));
}

void DrawCapture(QPainter& p)
{
    UsePen(p, Ink, 1.6);
    p.drawLine(QPointF(4, 3), QPointF(20, 3));
    p.drawLine(QPointF(4, 21), QPointF(20, 21));
    UsePen(p, Accent, 1.8);
    DrawDoubleArrow(p, QPointF(12, 5), QPointF(12, 19));
}

// A small window with a caption bar and two lines of values.
void DrawValueBar(QPainter& p)
{
    UsePen(p, Ink, 1.5);
    p.setBrush(QColor(255, 255, 230));
    p.drawRect(QRectF(3, 4, 18, 16));
    UsePen(p, Ink, 1.5);
    p.drawLine(QPointF(3, 8), QPointF(21, 8));
    UsePen(p, Accent, 1.6);
    p.drawLine(QPointF(6, 12), QPointF(18, 12));
    p.drawLine(QPointF(6, 16), QPointF(14, 16));
}

// A letter T of two filled bars.
void DrawTitle(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(Ink);
    p.drawRect(QRectF(4, 3, 16, 3.5));
    p.drawRect(QRectF(10.25, 3, 3.5, 18));
}

void DrawGrid(QPainter& p)
{
    UsePen(p, Ink, 1.4);
    p.drawRect(QRectF(3, 3, 18, 18));
    for (double v : {9.0, 15.0}) {
        p.drawLine(QPointF(v, 3), QPointF(v, 21));
        p.drawLine(QPointF(3, v), QPointF(21, v));
    }
}

// Two axes with three ticks each.
void DrawAxis(QPainter& p)
{
    UsePen(p, Ink, 1.8);
    p.drawLine(QPointF(5, 2), QPointF(5, 19));
    p.drawLine(QPointF(5, 19), QPointF(22, 19));
    UsePen(p, Ink, 1.3);
    for (double x : {9.0, 14.0, 19.0})
        p.drawLine(QPointF(x, 19), QPointF(x, 22));
    for (double y : {4.0, 9.0, 14.0})
        p.drawLine(QPointF(2, y), QPointF(5, y));
}

void DrawGlyph(QPainter& p, TToolGlyph g)
{
    switch (g) {
    case TToolGlyph::HairCross:
        return DrawHairCross(p);
    case TToolGlyph::Zoom:
        return DrawZoom(p);
    case TToolGlyph::LowerRef:
        return DrawReference(p, false);
    case TToolGlyph::UpperRef:
        return DrawReference(p, true);
    case TToolGlyph::Curves:
        return DrawCurves(p);
    case TToolGlyph::Calculate:
        return DrawCalculate(p);
    case TToolGlyph::AutoScale:
        return DrawAutoScale(p);
    case TToolGlyph::Capture:
        return DrawCapture(p);
    case TToolGlyph::ValueBar:
        return DrawValueBar(p);
    case TToolGlyph::Title:
        return DrawTitle(p);
    case TToolGlyph::Grid:
        return DrawGrid(p);
    case TToolGlyph::Axis:
        return DrawAxis(p);
    }
}

class VectorIconEngine : public QIconEngine
{
public:
    explicit VectorIconEngine(std::function<void(QPainter&, QIcon::Mode)> Draw)
        : m_draw(std::move(Draw))
    {
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const double side = std::min(rect.width(), rect.height());
        if (side <= 0)
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.x() + (rect.width() - side) / 2.0,
                           rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / 24.0, side / 24.0);
        m_draw(*painter, mode);
        painter->restore();
    }

    // Qt asks for the size in device pixels when the screen is scaled.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }

    QIconEngine* clone() const override { return new VectorIconEngine(m_draw); }

private:
    std::function<void(QPainter&, QIcon::Mode)> m_draw;
};

} // namespace

QIcon VectorIcon(std::function<void(QPainter&, QIcon::Mode)> Draw)
{
    return QIcon(new VectorIconEngine(std::move(Draw)));
}

QIcon ToolGlyphIcon(TToolGlyph Glyph)
{
    return VectorIcon([Glyph](QPainter& p, QIcon::Mode mode) {
        if (mode == QIcon::Disabled)
            p.setOpacity(0.35);
        DrawGlyph(p, Glyph);
    });
}
