// View range setters, data refresh and automatic Y scaling of the plot control.

#include "dxHistoInt.h"

#include <algorithm>
#include <cmath>
#include <limits>

void TDXHistographInt::setViewXNominalMin(float Value)
{
    if (Value == m_viewXNominalMin)
        return;
    m_viewXNominalMin = Value;
    Invalidate();
}

void TDXHistographInt::setViewXNominalMax(float Value)
{
    if (Value == m_viewXNominalMax)
        return;
    m_viewXNominalMax = Value;
    Invalidate();
}

void TDXHistographInt::setViewXCurrentMin(float Value)
{
    if (Value == m_viewXCurrentMin)
        return;
    m_viewXCurrentMin = Value;
    if (IsLogX()) {
        if (m_autoScale)
            RepairLogXLimits();
        UpdateLogXMapping();
    }
    Invalidate();
}

void TDXHistographInt::setViewXCurrentMax(float Value)
{
    if (Value == m_viewXCurrentMax)
        return;
    m_viewXCurrentMax = Value;
    if (IsLogX()) {
        if (m_autoScale)
            RepairLogXLimits();
        UpdateLogXMapping();
    }
    Invalidate();
}

void TDXHistographInt::RepairLogXLimits()
{
    // While scaling automatically, a logarithmic X axis gets usable limits instead of an error.
    if (m_viewXCurrentMax <= 0.0f)
        m_viewXCurrentMax = 0.1f;
    if (m_viewXCurrentMin <= 0.0f)
        m_viewXCurrentMin = m_viewXCurrentMax / 100.0f;
}

void TDXHistographInt::setViewXGap(float Value)
{
    if (Value > 0.0f && Value != m_viewXGap) {
        m_viewXGap = Value;
        Invalidate();
    }
}

void TDXHistographInt::setViewYGap(float Value)
{
    if (Value > 0.0f && Value != m_viewYGap) {
        m_viewYGap = Value;
        Invalidate();
    }
}

void TDXHistographInt::setViewYGridOrigin(float Value)
{
    if (std::isfinite(Value) && Value != m_viewYGridOrigin) {
        m_viewYGridOrigin = Value;
        Invalidate();
    }
}

void TDXHistographInt::setViewXDecimals(int Value)
{
    if (Value == m_viewXDecimals)
        return;
    m_viewXDecimals = Value;
    Invalidate();
}

void TDXHistographInt::setViewYDecimals(int Value)
{
    if (Value == m_viewYDecimals)
        return;
    m_viewYDecimals = Value;
    Invalidate();
}

void TDXHistographInt::setViewYMin(float Value)
{
    if (Value == m_viewYMin)
        return;
    // The scaling may move maximum and step; the minimum set here wins.
    if (m_autoScale)
        ComputeAutoScale();
    m_viewYMin = Value;
    if (IsLogY())
        UpdateLogYMapping();
    Invalidate();
}

void TDXHistographInt::setViewYMax(float Value)
{
    if (Value == m_viewYMax)
        return;
    m_viewYMax = Value;
    if (IsLogY())
        UpdateLogYMapping();
    Invalidate();
}

void TDXHistographInt::setAutoScale(bool Value)
{
    if (Value == m_autoScale)
        return;
    m_autoScale = Value;
    RefreshData();
}

void TDXHistographInt::setGridScale(TDXGrdScale Value)
{
    if (Value == m_gridScale)
        return;
    m_gridScale = Value;
    if (IsLogY()) {
        if (m_autoScale)
            ComputeAutoScale();
        UpdateLogYMapping();
    }
    if (IsLogX()) {
        if (m_autoScale)
            RepairLogXLimits();
        UpdateLogXMapping();
    }
    Invalidate();
}

void TDXHistographInt::UpdateLogYMapping()
{
    dxplot::UpdateLogYMapping(m_logY, m_viewYMin, m_viewYMax, m_gapTop, height() - m_gapBottom);
}

void TDXHistographInt::UpdateLogXMapping()
{
    dxplot::UpdateLogXMapping(m_logX, m_viewXCurrentMin, m_viewXCurrentMax, m_viewXNominalMin,
                              m_viewXNominalMax, m_gapLeft, width() - m_gapRight);
}

int TDXHistographInt::LogXToPixel(double Value) const
{
    return m_logX.ToPixel(Value);
}

int TDXHistographInt::LogYToPixel(double Value) const
{
    return m_logY.ToPixel(Value);
}

void TDXHistographInt::RefreshData()
{
    m_refreshedCurvesOnly = false;
    if (m_autoScale && ComputeAutoScale()) {
        Invalidate();
        return;
    }
    if (!m_enableUpdate)
        return;
    if (m_surfaceStale || !SurfaceFits()) {
        RenderNow();
        update();
        return;
    }
    // Only the curves change with new data: their pixels, or else the plot area.
    m_refreshedCurvesOnly = RefreshCurves();
    if (m_refreshedCurvesOnly) {
        FlushDirty();
    } else {
        const QRect clip(QPoint(m_gapLeft, m_gapTop),
                         QPoint(width() - m_gapRight, height() - m_gapBottom));
        Paint(clip);
        UpdateScreen(clip);
    }
}

void TDXHistographInt::ScaleOnce()
{
    if (ComputeAutoScale())
        Invalidate();
}

void TDXHistographInt::GetSeriesMinMax(int Series, float& Min, float& Max) const
{
    Min = 0.0f;
    Max = 0.0f;
    if (Series < 1 || Series > MaxSeries)
        return;
    const TDXSeries& s = m_series[Series - 1];
    if (!s.Data || s.Count <= 0)
        return;
    const bool pairs = s.Kind == dtDataXY;
    if (pairs && !s.Pairs)
        return;
    float lo = std::numeric_limits<float>::infinity();
    float hi = -lo;
    for (int i = 0; i < s.Count; ++i) {
        const float v = pairs ? s.Data[2 * i + 1] : s.Data[i];
        if (v < lo)
            lo = v;
        if (v > hi)
            hi = v;
    }
    // Without a single comparable value the series counts as empty.
    if (lo <= hi) {
        Min = lo;
        Max = hi;
    }
}

bool TDXHistographInt::ComputeAutoScale()
{
    float gmin = 1e38f;
    float gmax = -1e38f;
    for (int i = 1; i <= m_seriesNumber; ++i) {
        float smin, smax;
        GetSeriesMinMax(i, smin, smax);
        gmin = std::min(gmin, smin);
        gmax = std::max(gmax, smax);
    }
    if (!dxplot::NeedsRescale(gmin, gmax, m_viewYMin, m_viewYMax) &&
        !(IsLogY() && m_viewYMin <= 0.0f))
        return false;
    // A zero range has no rounded span (also on a logarithmic axis): the view stays.
    const auto view = dxplot::RoundedView(gmin, gmax);
    if (!view)
        return false;
    m_viewYMin = view->Min;
    m_viewYMax = view->Max;
    m_viewYGap = view->Gap;
    if (IsLogY()) {
        if (m_viewYMax <= 0.0f)
            setViewYMax(0.1f);
        if (m_viewYMin <= 0.0f)
            m_viewYMin = m_viewYMax / 100.0f;
        UpdateLogYMapping();
    }
    return true;
}
