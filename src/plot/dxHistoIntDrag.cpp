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

// Nearest sample index 1..n of an equidistant series for a fractional index (ties to even).
int ClampedIndex(double fractional, int n)
{
    if (!std::isfinite(fractional))
        return fractional > 0 ? n : 1;
    const double r = std::nearbyint(fractional);
    return r < 1.0 ? 1 : (r > n ? n : static_cast<int>(r));
}

} // namespace

int TDXHistographInt::ValueToPixelX(double X) const
{
    if (IsLogX())
        return LogXToPixel(X);
    const double plotW = width() - m_gapLeft - m_gapRight;
    return dxplot::TruncClamp((X - m_viewXCurrentMin) * plotW /
                                      (double(m_viewXCurrentMax) - m_viewXCurrentMin) +
                                  m_gapLeft,
                              -3000000, 3000000);
}

int TDXHistographInt::ValueToPixelY(double Y) const
{
    if (IsLogY())
        return LogYToPixel(Y);
    const double plotH = height() - m_gapTop - m_gapBottom;
    return dxplot::TruncClamp((m_viewYMin - Y) * plotH / (double(m_viewYMax) - m_viewYMin) +
                                  (height() - m_gapBottom),
                              -3000000, 3000000) +
           1;
}

TDXHistographInt::TDXCurveHit TDXHistographInt::NearestCurvePoint(int X, int Y) const
{
    TDXCurveHit hit;
    const double plotW = width() - m_gapLeft - m_gapRight;
    const double plotH = height() - m_gapTop - m_gapBottom;
    const double xRange = double(m_viewXCurrentMax) - m_viewXCurrentMin;
    const double nomRange = double(m_viewXNominalMax) - m_viewXNominalMin;
    const double pointerX =
        IsLogX() ? m_logX.ToValue(X) : m_viewXCurrentMin + xRange * (X - m_gapLeft) / plotW;
    const double pointerY = IsLogY() ? m_logY.ToValue(Y)
                                     : m_viewYMin + (double(m_viewYMax) - m_viewYMin) *
                                                        (height() - Y - m_gapBottom) / plotH;
    // Equidistant series: the sample whose X is nearest the pointer, as single-precision
    // arithmetic of pixels per sample.
    auto snap = [&](int n, double& valueX) {
        if (n <= 1) {
            valueX = m_viewXNominalMin;
            return 1;
        }
        int index;
        if (IsLogX()) {
            const float step = static_cast<float>(nomRange / (n - 1));
            const float base = m_viewXNominalMin - step;
            index = ClampedIndex((pointerX - base) / step, n);
            valueX = index * double(step) + base;
        } else {
            const float step = static_cast<float>(nomRange * plotW / xRange / (n - 1));
            const float origin = static_cast<float>(
                (double(m_viewXNominalMin) - m_viewXCurrentMin) * plotW / xRange + m_gapLeft -
                step);
            index = ClampedIndex((X - double(origin)) / step, n);
            valueX = nomRange * (index - 1) / (n - 1) + m_viewXNominalMin;
        }
        return index;
    };
    double best = 1e38;
    for (int s = 1; s <= m_seriesNumber; ++s) {
        const TDXSeries& series = m_series[s - 1];
        if (!series.Data || series.Count < 1)
            continue;
        if (series.Kind == dtDataXY) {
            if (!series.Pairs)
                continue;
            for (int k = 0; k < series.Count; ++k) {
                const double dx = series.Data[2 * k] - pointerX;
                const double dy = series.Data[2 * k + 1] - pointerY;
                const double d = dx * dx + dy * dy;
                if (d < best) {
                    best = d;
                    hit = {s, series.Data[2 * k], series.Data[2 * k + 1]};
                }
            }
            continue;
        }
        double valueX = 0;
        const int index = snap(series.Count, valueX);
        const double valueY = series.Data[index - 1];
        // Only the vertical distance decides between equidistant series; ties keep the lower.
        if (hit.Serie < 0 || std::fabs(valueY - pointerY) < std::fabs(hit.ValueY - pointerY))
            hit = {s, valueX, valueY};
    }
    return hit;
}

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
        dxplot::LinearAxis ax{m_viewYMin, m_viewYMax, m_viewYGap, b - t};
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
        const TDXCurveHit curve = viewOk ? NearestCurvePoint(X, Y) : TDXCurveHit{};
        if (curve.Serie > 0) {
            const double dx = ValueToPixelX(curve.ValueX) - X;
            const double dy = ValueToPixelY(curve.ValueY) - Y;
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
