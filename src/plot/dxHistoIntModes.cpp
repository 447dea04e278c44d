// Mouse modes of the plot control: the per-mode dispatch of press, move and release, the zoom
// band with its one-step undo, and the two crosses of calculate mode.

#include "dxCanvas.h"
#include "dxHistoInt.h"
#include "dx_Eca.h"

#include <QMouseEvent>
#include <algorithm>

namespace {

// Rectangle from exclusive right and bottom edges (empty when they do not exceed left/top).
QRect Edges(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

// The band as drawn: its two corners in either order, right and bottom exclusive.
QRect BandDrawRect(const QRect& band)
{
    return Edges(std::min(band.left(), band.right()), std::min(band.top(), band.bottom()),
                 std::max(band.left(), band.right()), std::max(band.top(), band.bottom()));
}

} // namespace

void TDXHistographInt::setMode(TDXMode Value)
{
    if (Value == m_mode)
        return;
    m_mode = Value;
    const bool calculate = Value == modeCalculate;
    if (calculate) {
        m_slots[MeasureSlot].Drawn = false;
    } else {
        m_slots[0].Drawn = false;
        m_slots[1].Drawn = false;
    }
    if (m_valueBar)
        m_valueBar->SetCalculateLabelsEnabled(calculate);
    Invalidate();
}

void TDXHistographInt::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    const Qt::MouseButton button = event->button();
    m_lastButton = button;
    m_buttonDown = true;
    event->accept();
    const bool reference = m_mode == modeLowerRef || m_mode == modeUpperRef;
    if (reference && button == Qt::LeftButton && Geometry().InPlot(p.x(), p.y())) {
        StartBend(p.x(), p.y());
        return;
    }
    if (m_mode == modeZoom && button == Qt::LeftButton) {
        StartBand(p.x(), p.y());
        return;
    }
    if (m_mode == modeCalculate && (button == Qt::LeftButton || button == Qt::RightButton)) {
        TDXCanvas canvas(m_surface, m_scale, rect(), &m_deviceView);
        PlaceCross(canvas, p.x(), p.y(), true, button == Qt::LeftButton ? 0 : 1);
        FlushDirty();
        return;
    }
    if (OnMouseDown)
        OnMouseDown(this, button, event->modifiers(), p.x(), p.y());
}

void TDXHistographInt::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    event->accept();
    if (ZoomBandActive()) {
        MoveBand(p.x(), p.y());
        return;
    }
    // Zoom mode and bends keep their moves to themselves.
    if (m_mode == modeZoom)
        return;
    if (m_refDragActive) {
        MoveBend(p.y());
        return;
    }
    if (OnMouseMove)
        OnMouseMove(this, event->modifiers(), p.x(), p.y());
    MeasureTracking(p.x(), p.y());
    if (m_buttonDown && m_mode == modeCalculate)
        CalculateFollow(p.x(), p.y());
    FlushDirty();
}

void TDXHistographInt::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    event->accept();
    if (ZoomBandActive())
        EndBand();
    else if (m_mode == modeZoom && m_lastButton == Qt::RightButton && m_zoomed)
        UndoZoom();
    else if (m_buttonDown && m_mode == modeCalculate)
        CalculateFollow(p.x(), p.y());
    else if (m_refDragActive)
        EndBend();
    FlushDirty();
    if (OnMouseUp)
        OnMouseUp(this, event->button(), event->modifiers(), p.x(), p.y());
    m_buttonDown = false;
}

void TDXHistographInt::EndPress()
{
    if (m_refDragActive)
        EndBend();
    m_buttonDown = false;
}

void TDXHistographInt::CalculateFollow(int x, int y)
{
    TDXCanvas canvas(m_surface, m_scale, rect(), &m_deviceView);
    // A cross never placed comes in at its stored position (0, 0 at first).
    for (int k : {0, 1})
        if (!m_slots[k].Drawn)
            PlaceCross(canvas, m_slots[k].MouseX, m_slots[k].MouseY, true, k);
    if (m_lastButton == Qt::LeftButton)
        PlaceCross(canvas, x, y, true, 0);
    else if (m_lastButton == Qt::RightButton)
        PlaceCross(canvas, x, y, true, 1);
}

bool TDXHistographInt::ZoomBandActive() const
{
    return m_mode == modeZoom && m_lastButton == Qt::LeftButton && m_bandActive;
}

void TDXHistographInt::DrawBand(TDXCanvas& canvas)
{
    const QRect r = BandDrawRect(m_bandRect);
    canvas.FocusRect(r);
    if (!r.isEmpty()) {
        MarkDirty(QRect(r.left(), r.top(), r.width(), 1));
        MarkDirty(QRect(r.left(), r.bottom(), r.width(), 1));
        MarkDirty(QRect(r.left(), r.top(), 1, r.height()));
        MarkDirty(QRect(r.right(), r.top(), 1, r.height()));
    }
}

void TDXHistographInt::StartBand(int x, int y)
{
    TDXCanvas canvas(m_surface, m_scale, rect(), &m_deviceView);
    if (m_bandShown)
        DrawBand(canvas);
    m_bandRect.setCoords(x, y, x, y);
    DrawBand(canvas);
    m_bandActive = true;
    m_bandShown = true;
    FlushDirty();
}

void TDXHistographInt::MoveBand(int x, int y)
{
    TDXCanvas canvas(m_surface, m_scale, rect(), &m_deviceView);
    if (m_bandShown)
        DrawBand(canvas);
    m_bandRect.setRight(x);
    m_bandRect.setBottom(y);
    DrawBand(canvas);
    m_bandShown = true;
    FlushDirty();
}

void TDXHistographInt::EndBand()
{
    m_bandActive = false;
    if (m_bandShown) {
        TDXCanvas canvas(m_surface, m_scale, rect(), &m_deviceView);
        DrawBand(canvas);
        m_bandShown = false;
        FlushDirty();
    }
    const int left = std::min(m_bandRect.left(), m_bandRect.right());
    const int right = std::max(m_bandRect.left(), m_bandRect.right());
    const int top = std::min(m_bandRect.top(), m_bandRect.bottom());
    const int bottom = std::max(m_bandRect.top(), m_bandRect.bottom());
    const float x1 = PixelToX(left), x2 = PixelToX(right);
    if (x1 == x2)
        return;
    // Bands that would put the X origin or the Y grid spacing beyond 32760 pixels are refused.
    if ((width() - m_gapRight - m_gapLeft - 1) * double(x1) / (double(x2) - x1) > 32760.0)
        return;
    const float yTop = PixelToY(top), yBottom = PixelToY(bottom);
    if (yTop == yBottom)
        return;
    if ((height() - m_gapBottom - m_gapTop) * double(m_viewYGap) / (double(yTop) - yBottom) >
        32760.0)
        return;
    if (!m_zoomed)
        m_savedView = {m_viewYMin,        m_viewYMax, m_viewXCurrentMin,
                       m_viewXCurrentMax, m_viewXGap, m_viewYGap};
    const TDXSavedView& s = m_savedView;
    const bool enable = m_enableUpdate;
    setEnableUpdate(false);
    setViewYMax(yTop);
    setViewYMin(yBottom);
    // The grid keeps the number of divisions of the view before zooming.
    if (!m_autoScale)
        setViewYGap(
            static_cast<float>((double(yTop) - yBottom) * s.YGap / (double(s.YMax) - s.YMin)));
    setViewXGap(
        static_cast<float>((double(x2) - x1) * s.XGap / (double(s.XCurrentMax) - s.XCurrentMin)));
    setViewXCurrentMin(x1);
    setViewXCurrentMax(x2);
    setEnableUpdate(enable);
    m_zoomed = true;
}

void TDXHistographInt::UndoZoom()
{
    const TDXSavedView& s = m_savedView;
    const bool enable = m_enableUpdate;
    setEnableUpdate(false);
    setViewYGap(s.YGap);
    setViewYMax(s.YMax);
    setViewYMin(s.YMin);
    setViewXGap(s.XGap);
    setViewXCurrentMin(s.XCurrentMin);
    setViewXCurrentMax(s.XCurrentMax);
    m_zoomed = false;
    setEnableUpdate(enable);
}
