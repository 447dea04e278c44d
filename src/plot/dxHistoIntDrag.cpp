// Colour drag and drop onto the plot: the element under the pointer previews the dragged colour,
// leaving restores it, dropping keeps it.

#include "dxColorhis.h"
#include "dxHistoInt.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <climits>
#include <cmath>

namespace {

// The paint path draws no grid and no curves for an inconsistent view; nothing can be hit then.
bool XViewUsable(float nomMin, float nomMax, float curMin, float curMax, bool logX)
{
    return nomMin < nomMax && curMin < curMax && (!logX || (nomMin > 0.0f && curMin > 0.0f));
}

bool YViewUsable(float vmin, float vmax, bool logY)
{
    return vmin < vmax && (!logY || vmin > 0.0f);
}

} // namespace

std::optional<int> TDXHistographInt::VerticalGridDistance(int X) const
{
    if ((m_gridVisible != grdVer && m_gridVisible != grdBoth) ||
        !XViewUsable(m_viewXNominalMin, m_viewXNominalMax, m_viewXCurrentMin, m_viewXCurrentMax,
                     IsLogX()))
        return std::nullopt;
    int best = INT_MAX;
    auto take = [&](int x) { best = std::min(best, std::abs(x - X)); };
    // The lines the X axis drawing puts down (its step may be enlarged at paint time).
    if (IsLogX()) {
        dxplot::ForEachLogGridValue(m_viewXCurrentMin, m_viewXCurrentMax,
                                    [&](double v) { take(LogXToPixel(v)); });
    } else {
        const int l = m_gapLeft, r = width() - m_gapRight;
        if (r - l <= 0 || height() - m_gapBottom - m_gapTop <= 0)
            return std::nullopt;
        dxplot::LinearAxis ax{m_viewXCurrentMin, m_viewXCurrentMax, m_viewXGap, r - l - 1};
        ax.Gap = static_cast<float>(ax.EnlargedGap());
        double v = ax.FirstTick();
        for (int n = 0; n < 1000 && v < m_viewXCurrentMax; ++n, v += ax.Gap)
            take(l + ax.Offset(v));
    }
    return best == INT_MAX ? std::nullopt : std::optional<int>(best);
}

std::optional<int> TDXHistographInt::HorizontalGridDistance(int Y) const
{
    if ((m_gridVisible != grdHor && m_gridVisible != grdBoth) ||
        !YViewUsable(m_viewYMin, m_viewYMax, IsLogY()))
        return std::nullopt;
    int best = INT_MAX;
    auto take = [&](int y) { best = std::min(best, std::abs(y - Y)); };
    if (IsLogY()) {
        dxplot::ForEachLogGridValue(m_viewYMin, m_viewYMax,
                                    [&](double v) { take(LogYToPixel(v)); });
    } else {
        const int t = m_gapTop, b = height() - m_gapBottom;
        if (b - t <= 0 || width() - m_gapRight - m_gapLeft <= 0)
            return std::nullopt;
        dxplot::LinearAxis ax{m_viewYMin, m_viewYMax, m_viewYGap, b - t, m_viewYGridOrigin};
        ax.Gap = static_cast<float>(ax.EnlargedGap());
        double v = ax.FirstTick();
        for (int n = 0; n < 1000 && v < m_viewYMax; ++n, v += ax.Gap)
            take(b - ax.Offset(v));
    }
    return best == INT_MAX ? std::nullopt : std::optional<int>(best);
}

TDXHistographInt::TDXElementHit TDXHistographInt::HitTestElement(int X, int Y) const
{
    const int w = width(), h = height();
    const int l = m_gapLeft, t = m_gapTop, r = w - m_gapRight + 1, b = h - m_gapBottom + 1;
    auto inside = [X, Y](int left, int top, int right, int bottom) {
        return X >= left && X < right && Y >= top && Y < bottom;
    };
    TDXElementHit hit;
    if (inside(l, t, r, b)) {
        double best = 2147483648.0;
        const bool viewOk = XViewUsable(m_viewXNominalMin, m_viewXNominalMax, m_viewXCurrentMin,
                                        m_viewXCurrentMax, IsLogX()) &&
                            YViewUsable(m_viewYMin, m_viewYMax, IsLogY());
        const TDXNearest curve = viewOk ? FindNearestPoint(X, Y) : TDXNearest{};
        if (curve.Serie > 0) {
            const double dx = double(XToPixel(curve.ValueX)) - X;
            const double dy = double(YToPixel(curve.ValueY)) - Y;
            best = std::sqrt(dx * dx + dy * dy);
            hit = {elSeries, m_series[curve.Serie - 1].LineColor, curve.Serie};
        }
        for (const std::optional<int>& d : {VerticalGridDistance(X), HorizontalGridDistance(Y)})
            if (d && *d < best) {
                best = *d;
                hit = {elGrid, m_gridColor, -1};
            }
        // A curve or grid line exactly 3 pixels away is still hit.
        if (best > 3.0)
            hit = {elBackground, m_bkColor, -1};
        return hit;
    }
    hit = {elControl, m_color, -1};
    if (inside(l - 10, t, l, b))
        hit = {elYAxis, m_fontColors[fiYAxis], -1};
    if (inside(l, b, r, b + 10))
        hit = {elXAxis, m_fontColors[fiXAxis], -1};
    // Title rectangles are where the titles were last painted (empty before the first paint).
    const std::pair<TDXFontId, int> titles[] = {{fiTitleLeft, elTitleLeft},
                                                {fiTitleRight, elTitleRight},
                                                {fiTitleBottom, elTitleBottom},
                                                {fiTitleTop, elTitleTop}};
    for (const auto& [font, code] : titles)
        if (TitleRect(font).contains(X, Y))
            hit = {code, m_fontColors[font], -1};
    return hit;
}

void TDXHistographInt::SetElementColor(int Code, int Sub, TColor Color)
{
    switch (Code) {
    case elSeries:
        if (Sub >= 1 && Sub <= MaxSeries)
            m_series[Sub - 1].LineColor = Color;
        break;
    case elGrid:
        m_gridColor = Color;
        break;
    case elBackground:
        m_bkColor = Color;
        break;
    case elTitleLeft:
        m_fontColors[fiTitleLeft] = Color;
        break;
    case elTitleRight:
        m_fontColors[fiTitleRight] = Color;
        break;
    case elTitleTop:
        m_fontColors[fiTitleTop] = Color;
        break;
    case elTitleBottom:
        m_fontColors[fiTitleBottom] = Color;
        break;
    case elYAxis:
        m_fontColors[fiYAxis] = Color;
        break;
    case elXAxis:
        m_fontColors[fiXAxis] = Color;
        break;
    case elControl:
        setColor(Color);
        return;
    default:
        return;
    }
    Invalidate();
}

void TDXHistographInt::RestorePreview()
{
    if (m_previewElement != elNone)
        SetElementColor(m_previewElement, m_previewSub, m_previewOldColor);
}

void TDXHistographInt::ResetPreview()
{
    m_previewElement = elNone;
    m_previewSub = -1;
    m_previewOldColor = clWhite;
}

void TDXHistographInt::dragEnterEvent(QDragEnterEvent* event)
{
    // Only colour grids send this type: other drags are refused and change nothing.
    m_dragColor = ColorFromMimeData(event->mimeData());
    if (!m_dragColor) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void TDXHistographInt::dragMoveEvent(QDragMoveEvent* event)
{
    if (!m_dragColor) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    const QPoint pos = event->position().toPoint();
    const TDXElementHit hit = HitTestElement(pos.x(), pos.y());
    if (hit.Code == m_previewElement && (hit.Code != elSeries || hit.Sub == m_previewSub))
        return;
    RestorePreview();
    SetElementColor(hit.Code, hit.Sub, *m_dragColor);
    m_previewElement = hit.Code;
    m_previewSub = hit.Sub;
    m_previewOldColor = hit.OldColor;
}

void TDXHistographInt::dragLeaveEvent(QDragLeaveEvent* event)
{
    RestorePreview();
    ResetPreview();
    m_dragColor.reset();
    event->accept();
}

void TDXHistographInt::dropEvent(QDropEvent* event)
{
    if (!m_dragColor) {
        event->ignore();
        return;
    }
    const QPoint pos = event->position().toPoint();
    const TDXElementHit hit = HitTestElement(pos.x(), pos.y());
    if (hit.Code != m_previewElement || (hit.Code == elSeries && hit.Sub != m_previewSub)) {
        RestorePreview();
        SetElementColor(hit.Code, hit.Sub, *m_dragColor);
    }
    ResetPreview();
    m_dragColor.reset();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}
