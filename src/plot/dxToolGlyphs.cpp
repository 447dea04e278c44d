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

// Every glyph is drawn in a 24 x 24 design square scaled to the requested rectangle.
void DrawGlyph(QPainter& p, TToolGlyph g)
{
    auto pen = [&](const QColor& c, double w) {
        QPen q(c, w);
        q.setCapStyle(Qt::RoundCap);
        q.setJoinStyle(Qt::RoundJoin);
        p.setPen(q);
        p.setBrush(Qt::NoBrush);
    };
    auto wave = [&](double yOffset) {
        QPainterPath path(QPointF(3, 14 + yOffset));
        path.cubicTo(7, 4 + yOffset, 10, 20 + yOffset, 13, 12 + yOffset);
        path.cubicTo(16, 6 + yOffset, 18, 14 + yOffset, 21, 10 + yOffset);
        p.drawPath(path);
    };
    auto arrow = [&](QPointF from, QPointF to) {
        p.drawLine(from, to);
        const QPointF d = (to - from) / std::max(1.0, std::hypot((to - from).x(), (to - from).y()));
        const QPointF n(-d.y(), d.x());
        p.drawLine(to, to - 3 * d + 2.5 * n);
        p.drawLine(to, to - 3 * d - 2.5 * n);
    };
    // Arrows from the middle of a and b out to both.
    auto doubleArrow = [&](QPointF a, QPointF b) {
        const QPointF middle = (a + b) / 2;
        arrow(middle, a);
        arrow(middle, b);
    };
    switch (g) {
    case TToolGlyph::HairCross:
        pen(Ink, 1.6);
        p.drawLine(QPointF(12, 2), QPointF(12, 22));
        p.drawLine(QPointF(2, 12), QPointF(22, 12));
        pen(RefInk, 1.6);
        p.drawEllipse(QPointF(12, 12), 4.5, 4.5);
        break;
    case TToolGlyph::Zoom:
        pen(Ink, 2.2);
        p.drawEllipse(QPointF(10, 10), 6, 6);
        p.drawLine(QPointF(14.5, 14.5), QPointF(21, 21));
        pen(Accent, 1.6);
        p.drawLine(QPointF(7, 10), QPointF(13, 10));
        p.drawLine(QPointF(10, 7), QPointF(10, 13));
        break;
    case TToolGlyph::LowerRef:
    case TToolGlyph::UpperRef: {
        pen(CurveInk, 1.8);
        wave(0);
        pen(RefInk, 2.2);
        const bool upper = g == TToolGlyph::UpperRef;
        QPainterPath ref(QPointF(3, upper ? 5 : 20));
        ref.cubicTo(9, upper ? 1 : 24, 15, upper ? 1 : 24, 21, upper ? 5 : 20);
        p.drawPath(ref);
        break;
    }
    case TToolGlyph::Curves:
        pen(CurveInk, 1.8);
        wave(0);
        pen(Ink, 1.4);
        p.drawLine(QPointF(13, 5), QPointF(13, 19));
        p.drawLine(QPointF(6, 12), QPointF(20, 12));
        break;
    case TToolGlyph::Calculate:
        pen(Ink, 1.6);
        p.drawLine(QPointF(5, 3), QPointF(5, 21));
        p.drawLine(QPointF(19, 3), QPointF(19, 21));
        pen(Accent, 1.6);
        doubleArrow(QPointF(6.5, 12), QPointF(17.5, 12));
        break;
    case TToolGlyph::AutoScale:
        pen(CurveInk, 1.8);
        wave(0);
        pen(Accent, 1.6);
        doubleArrow(QPointF(21, 2.5), QPointF(21, 21.5));
        break;
    case TToolGlyph::Capture:
        pen(Ink, 1.6);
        p.drawLine(QPointF(4, 3), QPointF(20, 3));
        p.drawLine(QPointF(4, 21), QPointF(20, 21));
        pen(Accent, 1.8);
        doubleArrow(QPointF(12, 5), QPointF(12, 19));
        break;
    case TToolGlyph::ValueBar:
        pen(Ink, 1.5);
        p.setBrush(QColor(255, 255, 230));
        p.drawRect(QRectF(3, 4, 18, 16));
        pen(Ink, 1.5);
        p.drawLine(QPointF(3, 8), QPointF(21, 8));
        pen(Accent, 1.6);
        p.drawLine(QPointF(6, 12), QPointF(18, 12));
        p.drawLine(QPointF(6, 16), QPointF(14, 16));
        break;
    case TToolGlyph::Title:
        p.setPen(Qt::NoPen);
        p.setBrush(Ink);
        p.drawRect(QRectF(4, 3, 16, 3.5));
        p.drawRect(QRectF(10.25, 3, 3.5, 18));
        break;
    case TToolGlyph::Grid:
        pen(Ink, 1.4);
        p.drawRect(QRectF(3, 3, 18, 18));
        for (double v : {9.0, 15.0}) {
            p.drawLine(QPointF(v, 3), QPointF(v, 21));
            p.drawLine(QPointF(3, v), QPointF(21, v));
        }
        break;
    case TToolGlyph::Axis:
        pen(Ink, 1.8);
        p.drawLine(QPointF(5, 2), QPointF(5, 19));
        p.drawLine(QPointF(5, 19), QPointF(22, 19));
        pen(Ink, 1.3);
        for (double v : {8.0, 13.0, 18.0})
            p.drawLine(QPointF(v + 1, 19), QPointF(v + 1, 22));
        for (double v : {5.0, 10.0, 15.0})
            p.drawLine(QPointF(2, v - 1), QPointF(5, v - 1));
        break;
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
