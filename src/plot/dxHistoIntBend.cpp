// Bending a reference curve: a bell-shaped "rubber" around the grabbed sample follows the
// pointer; the bent curve is drawn with the inverting pen inside a strip and written back once.

#include "dxCanvas.h"
#include "dxHistoInt.h"

#include <algorithm>
#include <cmath>

void TDXHistographInt::StartBend(int x, int y)
{
    m_downX = x;
    m_downY = y;
    m_rubberWidth = m_referenceRubberWidth;
    const TDXDataKind wanted = m_mode == modeLowerRef ? dtLowerRef : dtUpperRef;
    int found = 0;
    for (int s = 1; s <= std::max(1, m_seriesNumber) && !found; ++s)
        if (m_series[s - 1].Kind == wanted)
            found = s;
    const TDXSeries* series = found ? &m_series[found - 1] : nullptr;
    if (!series || !series->Data || series->Count <= 0 || series->Count >= MaxReferenceCount) {
        // Nothing to bend: back to measuring, without the setter's repaint.
        m_mode = modeMeasure;
        return;
    }
    // A single sample has no step along X to bend around.
    const int n = series->Count;
    if (n < 2)
        return;
    m_refSerie = found;
    m_refDragActive = true;
    m_readoutSize = QSize();
    m_refCurveShown = false;
    m_refBuffer.assign(series->Data, series->Data + n);
    m_refPen = TDXSeries{series->Kind, series->PenStyle, series->LineColor, nullptr, n, false};

    const dxplot::CrossGeometry g = Geometry();
    const dxplot::Snap snap = dxplot::SnapIndex(g, n, x);
    m_grabbed = snap.Index;
    m_grabbedX = snap.ValueX;
    m_first = m_grabbed - m_rubberWidth / 2;
    m_last = std::min(m_first + m_rubberWidth - 1, n);
    // The strip covering the affected samples, inside the plot.
    const int left = std::max(
        dxplot::TruncClamp(dxplot::SamplePixel(g, n, m_first), -(1 << 30), 1 << 30), m_gapLeft);
    const int right =
        std::min(dxplot::TruncClamp(dxplot::SamplePixel(g, n, m_last), -(1 << 30), 1 << 30),
                 width() - m_gapRight);
    m_refClip = QRect(QPoint(left, m_gapTop), QPoint(right - 1, height() - m_gapBottom - 1));
    if (m_first < 1) {
        m_weightOffset = 1 - m_first;
        m_first = 1;
    } else {
        m_weightOffset = 0;
    }
    dxplot::BuildRubberProfile(m_rubberWidth, m_weights);
}

void TDXHistographInt::MoveBend(int y)
{
    const TDXSeries& s = m_series[m_refSerie - 1];
    // New data of another length under the bend suspends it.
    if (!s.Data || s.Count != static_cast<int>(m_refBuffer.size()))
        return;
    const bool logY = IsLogY();
    const float delta = static_cast<float>((double(m_viewYMax) - m_viewYMin) * (m_downY - y) /
                                           (height() - m_gapTop - m_gapBottom));
    const float f = static_cast<float>(std::exp((y - m_downY) / double(m_logY.Factor)) - 1.0);
    auto bent = [&](int i) {
        const double w = m_weights[i - m_first + m_weightOffset];
        const double orig = s.Data[i - 1];
        return static_cast<float>(logY ? orig * (f * w + 1.0) : orig + delta * w);
    };
    const float grabbedValue = bent(m_grabbed);
    // The old curve goes before the value box is drawn over it, so the box never holds half
    // of an inverted curve. (One canvas at a time: a styled pen opens a painter.)
    if (m_refCurveShown) {
        TDXCanvas canvas(m_surface, m_scale, m_refClip, &m_deviceView);
        DrawBendCurve(canvas);
        m_refCurveShown = false;
    }
    for (int i = m_first; i <= m_last; ++i)
        m_refBuffer[i - 1] = bent(i);
    if (m_showValues)
        ShowValueReadout(font(), grabbedValue, m_grabbedX);
    else if (OnReferenceMove)
        OnReferenceMove(this, m_grabbedX, grabbedValue, m_refSerie, m_grabbed);
    TDXCanvas canvas(m_surface, m_scale, m_refClip, &m_deviceView);
    DrawBendCurve(canvas);
    m_refCurveShown = true;
    MarkDirty(m_refClip);
    FlushDirty();
}

void TDXHistographInt::DrawBendCurve(TDXCanvas& canvas)
{
    const dxplot::PlotBox plot{m_gapLeft, m_gapTop, width() - m_gapRight, height() - m_gapBottom};
    const QRect area = QRect(QPoint(plot.Left, plot.Top), QPoint(plot.Right - 1, plot.Bottom - 1))
                           .intersected(canvas.Clip())
                           .intersected(m_refClip);
    if (area.isEmpty())
        return;
    m_refPen.Data = m_refBuffer.data();
    m_refPen.Count = static_cast<int>(m_refBuffer.size());
    canvas.SetNotXor(true);
    DrawReferenceSeries(canvas, m_refPen, plot, area);
    canvas.SetNotXor(false);
}

void TDXHistographInt::EndBend()
{
    m_refDragActive = false;
    m_refCurveShown = false;
    const int index = m_refSerie - 1;
    TDXSeries& s = m_series[index];
    if (s.Data && s.Count == static_cast<int>(m_refBuffer.size())) {
        // The bent curve is the plot's own: a caller's array is never written to.
        if (!s.Owned) {
            std::unique_ptr<float[]> copy(new float[s.Count]);
            std::copy(s.Data, s.Data + s.Count, copy.get());
            s.Data = copy.get();
            s.Owned = true;
            m_ownedData[index] = std::move(copy);
        }
        std::copy(m_refBuffer.begin() + (m_first - 1), m_refBuffer.begin() + m_last,
                  s.Data + (m_first - 1));
    }
    std::vector<float>().swap(m_refBuffer);
    std::vector<float>().swap(m_weights);
    m_slots[MeasureSlot].Drawn = false;
    Invalidate();
}
