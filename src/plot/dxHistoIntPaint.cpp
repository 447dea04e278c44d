// Paint path of the plot control: range checks, frame, titles and both axes.

#include "dxCanvas.h"
#include "dxHistoInt.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>
#include <optional>

namespace {

// Rectangle from exclusive right and bottom edges, as the layout rules are written.
QRect Edges(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

int TitleIndex(TDXHistographInt::TDXFontId id)
{
    switch (id) {
    case TDXHistographInt::fiTitleTop:
        return 0;
    case TDXHistographInt::fiTitleBottom:
        return 1;
    case TDXHistographInt::fiTitleLeft:
        return 2;
    case TDXHistographInt::fiTitleRight:
        return 3;
    default:
        return -1;
    }
}

} // namespace

QRect TDXHistographInt::PlotRect() const
{
    return Edges(m_gapLeft, m_gapTop, width() - m_gapRight, height() - m_gapBottom);
}

QRect TDXHistographInt::TitleRect(TDXFontId Title) const
{
    const int i = TitleIndex(Title);
    return i < 0 ? QRect(-1, -1, 0, 0) : m_titleRects[i];
}

qreal TDXHistographInt::SurfaceRatio() const
{
    return m_ratioOverride > 0 ? m_ratioOverride : devicePixelRatioF();
}

void TDXHistographInt::SetSurfaceRatio(qreal Ratio)
{
    if (Ratio == m_ratioOverride)
        return;
    m_ratioOverride = Ratio > 0 ? Ratio : 0;
    Invalidate();
}

bool TDXHistographInt::SurfaceFits() const
{
    const qreal ratio = SurfaceRatio();
    return m_scale.Ratio == ratio && m_scale.LogicalWidth == width() &&
           m_scale.LogicalHeight == height() && !m_surface.isNull();
}

void TDXHistographInt::EnsureSurfaceSize()
{
    // A new size or a move to a screen of another density draws everything anew.
    if (SurfaceFits())
        return;
    m_scale = dxplot::DeviceScale::For(width(), height(), SurfaceRatio());
    m_surface = QImage(m_scale.DeviceWidth, m_scale.DeviceHeight, QImage::Format_RGB32);
    m_surface.setDevicePixelRatio(m_scale.Ratio);
    m_surface.fill(ColorToQColor(m_color));
    m_surfaceStale = true;
    m_backgroundValid = false;
}

void TDXHistographInt::RenderNow()
{
    EnsureSurfaceSize();
    if (!m_enableUpdate)
        return;
    m_surfaceStale = false;
    Paint(rect());
}

void TDXHistographInt::UpdateScreen(const QRect& r)
{
    // At a fractional ratio Qt rounds a logical rectangle's edges to device pixels, which may
    // leave out the first device pixel the surface gives a logical pixel: a pixel more on each
    // side brings it in.
    if (m_scale.Ratio == std::floor(m_scale.Ratio))
        update(r);
    else
        update(r.adjusted(-1, -1, 1, 1));
}

void TDXHistographInt::paintEvent(QPaintEvent* event)
{
    if (m_surfaceStale || !SurfaceFits())
        RenderNow();
    // Crosses and bands update thin strips: copy each, not their bounding box. Each copy is
    // clipped to its own rectangle: under the whole region as clip Qt copies far more slowly.
    // The device pixels go over one to one: a whole number of them, reaching at least to the
    // rectangle's edges at a fractional ratio, placed at their own logical position.
    const qreal s = m_scale.Ratio;
    const QRect all = m_surface.rect();
    QPainter p(this);
    for (const QRect& r : event->region()) {
        const QRect d = QRect(QPoint(int(std::floor(r.left() * s)), int(std::floor(r.top() * s))),
                              QPoint(int(std::ceil((r.right() + 1) * s)) - 1,
                                     int(std::ceil((r.bottom() + 1) * s)) - 1))
                            .intersected(all);
        if (d.isEmpty())
            continue;
        p.setClipRect(r);
        p.drawImage(QRectF(d.x() / s, d.y() / s, d.width() / s, d.height() / s), m_surface,
                    QRectF(d));
    }
}

void TDXHistographInt::resizeEvent(QResizeEvent* event)
{
    Invalidate();
    QWidget::resizeEvent(event);
}

void TDXHistographInt::Paint(const QRect& clip)
{
    if (!m_enableUpdate || m_surface.isNull())
        return;
    // A cross handler that asks for a repaint gets it with the next paint event.
    if (m_paintCanvas) {
        Invalidate();
        return;
    }
    // While scaling, a logarithmic Y axis gets usable limits instead of the range error.
    if (m_autoScale && IsLogY()) {
        if (m_viewYMax <= 0.0f)
            m_viewYMax = 0.1f;
        if (m_viewYMin <= 0.0f)
            m_viewYMin = m_viewYMax / 100.0f;
    }
    TDXCanvas canvas(m_surface, m_scale, clip, &m_deviceView);
    m_paintCanvas = &canvas;
    m_backgroundValid = false;
    struct Done
    {
        TDXCanvas*& Canvas;
        ~Done() { Canvas = nullptr; }
    } done{m_paintCanvas};
    const bool xOk = m_viewXNominalMin < m_viewXNominalMax &&
                     m_viewXCurrentMin < m_viewXCurrentMax &&
                     (!IsLogX() || (m_viewXNominalMin > 0.0f && m_viewXCurrentMin > 0.0f));
    if (!xOk) {
        DrawRangeError(canvas, QStringLiteral("Range-Error in ViewX-Properties"), 10);
        PaintOverlays(canvas, false);
        return;
    }
    const bool yOk = m_viewYMin < m_viewYMax && (!IsLogY() || m_viewYMin > 0.0f);
    if (!yOk) {
        DrawRangeError(canvas, QStringLiteral("Range-Error in ViewY-Properties"), 20);
        PaintOverlays(canvas, false);
        return;
    }
    DrawPlot(canvas);
    if (OnAfterPaint)
        OnAfterPaint(this, canvas.Painter(), false);
    // Every paint re-places the live crosses on the current data and reports them again.
    PaintOverlays(canvas, true);
}

void TDXHistographInt::DrawRangeError(TDXCanvas& canvas, const QString& text, int y)
{
    canvas.FillRect(rect(), clRed);
    canvas.Text(10, y, text, font(), clWindowText);
}

void TDXHistographInt::DrawPlot(TDXCanvas& canvas)
{
    if (!m_rotatedFontsPrepared) {
        // The side titles start out like the control's font, keeping their own faces; a font
        // given explicitly before the first paint is kept as given.
        for (TDXFontId id : {fiTitleLeft, fiTitleRight}) {
            if (m_fontSet[id])
                continue;
            QFont f = font();
            f.setFamily(m_fonts[id].family());
            m_fonts[id] = f;
        }
        m_rotatedFontsPrepared = true;
    }
    const int w = width();
    const int h = height();
    // The logarithmic mappings depend on the gaps as well as on size and view, and no gap
    // setter renews them: renew them on every paint (a few logarithms).
    if (IsLogY())
        UpdateLogYMapping();
    if (IsLogX())
        UpdateLogXMapping();

    // Margins, only where the clip reaches beyond the (one pixel larger) plot area.
    const QRect& clip = canvas.Clip();
    const int cl = clip.left(), ct = clip.top();
    const int cr = clip.right() + 1, cb = clip.bottom() + 1;
    const int pl = m_gapLeft, pt = m_gapTop;
    const int pr = w - m_gapRight + 1, pb = h - m_gapBottom + 1;
    if (ct < pt)
        canvas.FillRect(Edges(cl, ct, cr, pt), m_color);
    if (pb < cb)
        canvas.FillRect(Edges(cl, pb, cr, cb), m_color);
    if (cl < pl)
        canvas.FillRect(Edges(cl, ct, pl, cb), m_color);
    if (pr < cr)
        canvas.FillRect(Edges(pr, ct, cr, cb), m_color);

    const TColor light = ScaleColor(m_color, 1.25);
    const TColor dark = ScaleColor(m_color, 0.75);
    if (m_borderStyle == bsSingle) {
        canvas.Line(0, h - 1, 0, 0, light, psSolid);
        canvas.Line(0, 0, w - 1, 0, light, psSolid);
        canvas.Line(w - 1, 0, w - 1, h - 1, dark, psSolid);
        canvas.Line(w - 1, h - 1, -1, h - 1, dark, psSolid);
    }
    if (pt < pb && pl < pr)
        canvas.FillRect(Edges(pl, pt, pr, pb), m_bkColor);

    const dxplot::PlotBox plot{m_gapLeft, m_gapTop, w - m_gapRight, h - m_gapBottom};
    const int l = plot.Left, t = plot.Top, r = plot.Right, b = plot.Bottom;
    const bool plotNonEmpty = t < b && l < r;
    if (plotNonEmpty) {
        canvas.Line(l - 1, b + 1, l - 1, t - 1, dark, psSolid);
        canvas.Line(l - 1, t - 1, r, t - 1, dark, psSolid);
        canvas.Line(r, t - 1, r, b + 1, light, psSolid);
        canvas.Line(r, b + 1, l - 1, b + 1, light, psSolid);
    }
    DrawTitles(canvas);
    // Labels and tick marks lie outside the filled plot area; a clip inside it needs only the
    // grid lines of the axes.
    const bool labels = !Edges(pl, pt, pr, pb).contains(clip);
    DrawYAxis(canvas, plot, labels);
    DrawXAxis(canvas, plot, labels);
    const QRect area = Edges(l, t, r, b);
    if (plotNonEmpty && clip.intersects(area)) {
        // The area without the curves is kept, and what the curves cover recorded, so that new
        // data can put back just those pixels (RefreshCurves).
        const bool keep = clip.contains(area);
        if (keep)
            KeepBackground(canvas.DeviceRect(area));
        m_recording = keep ? &m_curveSpans : nullptr;
        DrawSeries(canvas, plot);
        m_recording = nullptr;
    }
}

void TDXHistographInt::DrawTitles(TDXCanvas& canvas)
{
    const int w = width();
    const int h = height();
    const QRect& clip = canvas.Clip();
    auto draw = [&](TDXFontId id, const QRect& rect, auto&& paint) {
        m_titleRects[TitleIndex(id)] = rect;
        if (!rect.intersects(clip))
            return;
        canvas.FillRect(rect, m_color);
        paint();
    };
    if (!m_titleTop.isEmpty()) {
        const QFontMetrics fm(m_fonts[fiTitleTop]);
        const int tw = fm.horizontalAdvance(m_titleTop);
        const int x = w / 2 - tw / 2;
        draw(fiTitleTop, QRect(x, 10, tw, fm.height()), [&] {
            canvas.Text(x, 10, m_titleTop, m_fonts[fiTitleTop], m_fontColors[fiTitleTop]);
        });
    }
    if (!m_titleBottom.isEmpty()) {
        const QFontMetrics fm(m_fonts[fiTitleBottom]);
        const int tw = fm.horizontalAdvance(m_titleBottom);
        const int x = w / 2 - tw / 2;
        const int y = h - fm.height() - 10;
        draw(fiTitleBottom, QRect(x, y, tw, fm.height()), [&] {
            canvas.Text(x, y, m_titleBottom, m_fonts[fiTitleBottom], m_fontColors[fiTitleBottom]);
        });
    }
    for (bool left : {true, false}) {
        const TDXFontId id = left ? fiTitleLeft : fiTitleRight;
        const QString& text = left ? m_titleLeft : m_titleRight;
        if (text.isEmpty())
            continue;
        const QFontMetrics fm(m_fonts[id]);
        const int len = fm.horizontalAdvance(text);
        const int thick = fm.height();
        const int x = left ? TitleMargin : w - TitleMargin - thick;
        const QRect rect(x, h / 2 + len / 2 - len, thick, len);
        draw(id, rect, [&] { DrawSideTitle(canvas, id, text, left); });
    }
}

void TDXHistographInt::DrawSideTitle(TDXCanvas& canvas, TDXFontId id, const QString& text,
                                     bool left)
{
    QPainter& p = canvas.Painter();
    const QFontMetrics fm(m_fonts[id]);
    const int len = fm.horizontalAdvance(text);
    p.save();
    p.setFont(m_fonts[id]);
    p.setPen(ColorToQColor(m_fontColors[id]));
    // The left title runs upward from its bottom end, the right one downward from its top.
    if (left) {
        p.translate(TitleMargin, height() / 2 + len / 2);
        p.rotate(-90);
    } else {
        p.translate(width() - TitleMargin, height() / 2 - len / 2);
        p.rotate(90);
    }
    p.drawText(0, fm.ascent(), text);
    p.restore();
}

QString TDXHistographInt::AxisLabel(bool xAxis, double value, const std::string& pattern) const
{
    const bool owner = xAxis ? m_ownerDrawXAxis : m_ownerDrawYAxis;
    const auto& handler = xAxis ? OnXAxis : OnYAxis;
    if (owner && handler) {
        QString out;
        handler(value, out);
        return out;
    }
    return QString::fromStdString(pattern.empty() ? dxplot::FormatGeneral4(value)
                                                  : dxplot::FormatFloatPattern(pattern, value));
}

void TDXHistographInt::DrawYAxis(TDXCanvas& canvas, const dxplot::PlotBox& plot, bool labels)
{
    const int l = plot.Left, t = plot.Top, r = plot.Right, b = plot.Bottom;
    if (r - l <= 0 || b - t <= 0)
        return;
    const bool grid = m_gridVisible == grdHor || m_gridVisible == grdBoth;
    // Font metrics only when labels are drawn: the per-frame repaint needs none.
    std::optional<QFontMetrics> fm;
    if (labels)
        fm.emplace(m_fonts[fiYAxis]);
    const int th = labels ? fm->height() : 0;
    auto label = [&](double v, int y, const std::string& pattern) {
        const QString text = AxisLabel(false, v, pattern);
        canvas.Text(l - fm->horizontalAdvance(text) - TitleMargin, y - th / 2, text,
                    m_fonts[fiYAxis], m_fontColors[fiYAxis]);
        canvas.Line(l - 2, y, l, y, m_gridColor, psSolid);
    };
    if (IsLogY()) {
        if (labels) {
            const int dmin = dxplot::CeilDecade(m_viewYMin);
            const int dmax = dxplot::FloorDecade(m_viewYMax);
            const std::string pattern = dmin < -3 || dmax > 3 ? "#E+00" : "";
            for (int e = dmin, n = 0; e <= dmax && n < 1000; ++e, ++n) {
                const double v = std::pow(10.0, e);
                label(v, LogYToPixel(v), pattern);
            }
        }
        if (grid)
            dxplot::ForEachLogGridValue(m_viewYMin, m_viewYMax, [&](double v) {
                const int y = LogYToPixel(v);
                canvas.Line(l, y, r, y, m_gridColor, m_gridLineStyle);
            });
        return;
    }
    dxplot::LinearAxis ax{m_viewYMin, m_viewYMax, m_viewYGap, b - t, m_viewYGridOrigin};
    const double gap = ax.EnlargedGap();
    if (gap != ax.Gap) {
        m_viewYGap = static_cast<float>(gap);
        ax.Gap = m_viewYGap;
    }
    const double first = ax.FirstTick();
    if (labels) {
        const double step = ax.LabelStep(2 * th);
        const std::string pattern =
            dxplot::LinearAxisPattern(m_viewYMin, m_viewYMax, m_viewYDecimals);
        double v = first;
        for (int n = 0; n < 1000 && v <= m_viewYMax; ++n, v += step)
            label(v, b - ax.Offset(v), pattern);
    }
    if (grid) {
        double v = first;
        for (int n = 0; n < 1000 && v < m_viewYMax; ++n, v += ax.Gap) {
            const int y = b - ax.Offset(v);
            canvas.Line(l, y, r, y, m_gridColor, m_gridLineStyle);
        }
    }
}

void TDXHistographInt::DrawXAxis(TDXCanvas& canvas, const dxplot::PlotBox& plot, bool labels)
{
    const int l = plot.Left, t = plot.Top, r = plot.Right, b = plot.Bottom;
    if (r - l <= 0 || b - t <= 0)
        return;
    const bool grid = m_gridVisible == grdVer || m_gridVisible == grdBoth;
    std::optional<QFontMetrics> fm;
    if (labels)
        fm.emplace(m_fonts[fiXAxis]);
    auto label = [&](double v, int x, const std::string& pattern) {
        const QString text = AxisLabel(true, v, pattern);
        canvas.Text(x - fm->horizontalAdvance(text) / 2, b + XLabelOffset, text, m_fonts[fiXAxis],
                    m_fontColors[fiXAxis]);
        canvas.Line(x, b + 1, x, b + 3, m_gridColor, psSolid);
    };
    if (IsLogX()) {
        if (labels) {
            const int dmin = dxplot::CeilDecade(m_viewXCurrentMin);
            const int dmax = dxplot::FloorDecade(m_viewXCurrentMax);
            const std::string pattern = dmin < -3 || dmax > 3 ? "#E+00" : "";
            for (int e = dmin, n = 0; e <= dmax && n < 1000; ++e, ++n) {
                const double v = std::pow(10.0, e);
                label(v, LogXToPixel(v), pattern);
            }
        }
        if (grid)
            dxplot::ForEachLogGridValue(m_viewXCurrentMin, m_viewXCurrentMax, [&](double v) {
                const int x = LogXToPixel(v);
                canvas.Line(x, t, x, b, m_gridColor, m_gridLineStyle);
            });
        return;
    }
    dxplot::LinearAxis ax{m_viewXCurrentMin, m_viewXCurrentMax, m_viewXGap, r - l - 1};
    const double gap = ax.EnlargedGap();
    if (gap != ax.Gap) {
        m_viewXGap = static_cast<float>(gap);
        ax.Gap = m_viewXGap;
    }
    const double first = ax.FirstTick();
    if (labels) {
        const std::string pattern =
            dxplot::LinearAxisPattern(m_viewXCurrentMin, m_viewXCurrentMax, m_viewXDecimals);
        // Label spacing is measured on the widest pattern text, even for owner-drawn labels.
        const double widest = std::fabs(m_viewXCurrentMax) > std::fabs(m_viewXCurrentMin)
                                  ? m_viewXCurrentMax
                                  : m_viewXCurrentMin;
        const int tw = fm->horizontalAdvance(
            QString::fromStdString(dxplot::FormatFloatPattern(pattern, widest) + "-"));
        const double step = ax.LabelStep(tw + 10);
        double v = first;
        for (int n = 0; n < 1000 && v <= m_viewXCurrentMax; ++n, v += step)
            label(v, l + ax.Offset(v), pattern);
    }
    if (grid) {
        double v = first;
        for (int n = 0; n < 1000 && v < m_viewXCurrentMax; ++n, v += ax.Gap) {
            const int x = l + ax.Offset(v);
            canvas.Line(x, t, x, b, m_gridColor, m_gridLineStyle);
        }
    }
}
