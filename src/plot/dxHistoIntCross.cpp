// Hair crosses of the plot control: hit tests, snapping, drawing with the inverting pen, the
// notifications and the value bar.

#include "dxCanvas.h"
#include "dxHistoInt.h"
#include "dx_Eca.h"
#include "dx_Etb.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace {

std::string DecimalPoint()
{
    return QLocale().decimalPoint().toStdString();
}

QString Value4(double v)
{
    return QString::fromStdString(dxplot::FormatValue4(v, DecimalPoint()));
}

bool Snappable(const TDXHistographInt::TDXSeries& s)
{
    return s.Data && s.Count > 0 && s.Count < TDXHistographInt::MaxReferenceCount &&
           (s.Kind != dtDataXY || s.Pairs);
}

} // namespace

dxplot::CrossGeometry TDXHistographInt::Geometry() const
{
    dxplot::CrossGeometry g;
    g.Width = width();
    g.Height = height();
    g.GapLeft = m_gapLeft;
    g.GapTop = m_gapTop;
    g.GapRight = m_gapRight;
    g.GapBottom = m_gapBottom;
    g.NominalMin = m_viewXNominalMin;
    g.NominalMax = m_viewXNominalMax;
    g.CurrentMin = m_viewXCurrentMin;
    g.CurrentMax = m_viewXCurrentMax;
    g.YMin = m_viewYMin;
    g.YMax = m_viewYMax;
    g.LogX = IsLogX();
    g.LogY = IsLogY();
    g.LogXMap = m_logX;
    g.LogYMap = m_logY;
    return g;
}

float TDXHistographInt::PixelToX(int Px) const
{
    return Geometry().PixelToX(Px);
}

float TDXHistographInt::PixelToY(int Py) const
{
    return Geometry().PixelToY(Py);
}

int TDXHistographInt::XToPixel(float X) const
{
    return Geometry().XToPixel(X);
}

int TDXHistographInt::YToPixel(float Y) const
{
    return Geometry().YToPixel(Y);
}

dxplot::Snap TDXHistographInt::SnapIndex(int Series, int Px) const
{
    const TDXSeries& s = SeriesRecord(Series);
    return dxplot::SnapIndex(Geometry(), std::max(s.Count, 1), Px);
}

TDXHistographInt::TDXNearest TDXHistographInt::FindNearestPoint(int Px, int Py) const
{
    TDXNearest r;
    const dxplot::CrossGeometry g = Geometry();
    const double ty = g.PixelToY(Py);
    double best = 1e38;
    for (int s = 1; s <= m_seriesNumber; ++s) {
        const TDXSeries& series = m_series[s - 1];
        if (!Snappable(series))
            continue;
        if (series.Kind == dtDataXY) {
            const double tx = g.PixelToX(Px);
            for (int k = 1; k <= series.Count; ++k) {
                const float x = series.Data[2 * (k - 1)];
                const float y = series.Data[2 * (k - 1) + 1];
                const double d = (x - tx) * (x - tx) + (y - ty) * (y - ty);
                if (d < best) {
                    r = {s, k, x, y};
                    best = d;
                }
            }
            continue;
        }
        // Equidistant series compete on the vertical distance at their snapped sample; the
        // first series found stands until a strictly nearer one comes.
        const dxplot::Snap snap = dxplot::SnapIndex(g, series.Count, Px);
        const float y = series.Data[snap.Index - 1];
        if (r.Serie < 0 || std::fabs(y - ty) < std::fabs(r.ValueY - ty))
            r = {s, snap.Index, snap.ValueX, y};
    }
    return r;
}

void TDXHistographInt::DrawCrossLines(TDXCanvas& canvas, int px, TColor color, int py)
{
    const int l = m_gapLeft, t = m_gapTop, r = width() - m_gapRight, b = height() - m_gapBottom;
    canvas.SetNotXor(true);
    if (t < py && py < b)
        canvas.Line(l, py, r, py, color, psSolid);
    if (l < px && px < r)
        canvas.Line(px, t, px, b, color, psSolid);
    canvas.SetNotXor(false);
    MarkCrossLines(px, py);
}

void TDXHistographInt::MarkCrossLines(int px, int py)
{
    const int l = m_gapLeft, t = m_gapTop, r = width() - m_gapRight, b = height() - m_gapBottom;
    if (t < py && py < b)
        MarkDirty(QRect(l, py, r - l, 1));
    if (l < px && px < r)
        MarkDirty(QRect(px, t, 1, b - t));
}

void TDXHistographInt::DrawCrossAt(int Mx, int My, bool EraseFirst, int K)
{
    if (K < 0 || K >= CrossSlots)
        return;
    if (m_paintCanvas) {
        PlaceCross(*m_paintCanvas, Mx, My, EraseFirst, K);
        return;
    }
    TDXCanvas canvas(m_surface, m_scale, rect(), &m_deviceView);
    PlaceCross(canvas, Mx, My, EraseFirst, K);
    FlushDirty();
}

void TDXHistographInt::PlaceCross(TDXCanvas& canvas, int mx, int my, bool eraseFirst, int k)
{
    const TDXNearest n = FindNearestPoint(mx, my);
    if (n.Serie <= 0)
        return;
    TDXCrossSlot& slot = m_slots[k];
    if (eraseFirst && m_slotShown[k])
        DrawCrossLines(canvas, slot.PixelX, slot.Color, slot.PixelY);
    slot.PixelX = XToPixel(n.ValueX);
    slot.PixelY = YToPixel(n.ValueY);
    slot.MouseX = mx;
    slot.MouseY = my;
    slot.Color = m_series[n.Serie - 1].LineColor;
    slot.Drawn = true;
    slot.ValueX = n.ValueX;
    slot.ValueY = n.ValueY;
    slot.Serie = n.Serie;
    DrawCrossLines(canvas, slot.PixelX, slot.Color, slot.PixelY);
    m_slotShown[k] = true;
    NotifyCross(k, n.Index);
}

void TDXHistographInt::EraseCross(TDXCanvas& canvas, int k)
{
    TDXCrossSlot& slot = m_slots[k];
    if (m_slotShown[k])
        DrawCrossLines(canvas, slot.PixelX, slot.Color, slot.PixelY);
    m_slotShown[k] = false;
    slot.Drawn = false;
}

void TDXHistographInt::NotifyCross(int k, int index)
{
    if (m_mode == modeMeasure) {
        const TDXCrossSlot& s = m_slots[k];
        if (OnCrossMove)
            OnCrossMove(this, s.ValueX, s.ValueY, s.Serie, index);
    } else if (m_mode == modeCalculate) {
        const TDXCrossSlot &a = m_slots[0], &b = m_slots[1];
        if (OnCalculate)
            OnCalculate(this, a.Serie, b.Serie, a.ValueX, b.ValueX, a.ValueY, b.ValueY);
    } else {
        return;
    }
    UpdateValueBar(k);
}

void TDXHistographInt::UpdateValueBar(int k)
{
    if (!m_valueBar || !m_valueBar->isVisible())
        return;
    TFormCalculateBar& bar = *m_valueBar;
    if (m_mode == modeMeasure) {
        const TDXCrossSlot& s = m_slots[k];
        bar.Series1->setText(QString::number(s.Serie));
        bar.X1->setText(Value4(s.ValueX));
        bar.Y1->setText(Value4(s.ValueY));
        return;
    }
    const TDXCrossSlot &a = m_slots[0], &b = m_slots[1];
    bar.Series1->setText(QString::number(a.Serie));
    bar.Series2->setText(QString::number(b.Serie));
    bar.X1->setText(Value4(a.ValueX));
    bar.X2->setText(Value4(b.ValueX));
    bar.Y1->setText(Value4(a.ValueY));
    bar.Y2->setText(Value4(b.ValueY));
    const double dx = std::fabs(double(b.ValueX) - a.ValueX);
    bar.deltax->setText(Value4(dx));
    bar.deltay->setText(Value4(std::fabs(double(b.ValueY) - a.ValueY)));
    bar.invdeltax->setText(dx == 0.0 ? QStringLiteral("----") : Value4(1.0 / dx));
}

void TDXHistographInt::MarkDirty(const QRect& r)
{
    // A paint hands its whole clip to the screen; interaction collects its strips.
    if (m_paintCanvas || r.isEmpty())
        return;
    if (m_dirtyCount < MaxDirty)
        m_dirty[m_dirtyCount++] = r;
    else
        m_dirty[MaxDirty - 1] |= r;
}

void TDXHistographInt::FlushDirty()
{
    for (int i = 0; i < m_dirtyCount; ++i)
        UpdateScreen(m_dirty[i]);
    m_dirtyCount = 0;
}

void TDXHistographInt::PaintOverlays(TDXCanvas& canvas, bool crosses)
{
    // The paint has just redrawn the plot area: no cross is in it any more. Markers go under
    // the crosses, which are erased by drawing them again.
    m_slotShown.fill(false);
    if (crosses) {
        DrawShade(canvas);
        DrawMarkers(canvas);
        for (int k = 0; k < CrossSlots; ++k)
            if (m_slots[k].Drawn)
                PlaceCross(canvas, m_slots[k].MouseX, m_slots[k].MouseY, false, k);
    }
    // A band or bent curve drawn before stays consistent: inside the clip it is drawn anew,
    // outside the clip it is still there.
    if (ZoomBandActive() && m_bandShown)
        DrawBand(canvas);
    else
        m_bandShown = false; // the paint has taken it away
    if (m_refDragActive && m_refCurveShown)
        DrawBendCurve(canvas);
}

void TDXHistographInt::MeasureTracking(int x, int y)
{
    if (m_mode != modeMeasure || !m_showCross)
        return;
    TDXCanvas canvas(m_surface, m_scale, rect(), &m_deviceView);
    if (Geometry().InPlot(x, y))
        PlaceCross(canvas, x, y, true, MeasureSlot);
    else if (m_slots[MeasureSlot].Drawn)
        EraseCross(canvas, MeasureSlot);
}

void TDXHistographInt::leaveEvent(QEvent* event)
{
    if (m_mode == modeMeasure && m_showCross && m_slots[MeasureSlot].Drawn) {
        TDXCanvas canvas(m_surface, m_scale, rect(), &m_deviceView);
        EraseCross(canvas, MeasureSlot);
        FlushDirty();
    }
    QWidget::leaveEvent(event);
}

void TDXHistographInt::ShowValueReadout(const QFont& font, float y, float x)
{
    const std::string point = DecimalPoint();
    const QString text =
        QStringLiteral("X=") + QString::fromStdString(dxplot::FormatReadout(x, point)) +
        QStringLiteral(" Y=") + QString::fromStdString(dxplot::FormatReadout(y, point));
    // The box's size depends on the font alone; measured once per bend.
    if (m_readoutSize.isEmpty()) {
        const QFontMetrics fm(font);
        m_readoutSize = QSize(fm.horizontalAdvance(QStringLiteral("X=#.##E-00 Y=#.##E-00")) + 20,
                              fm.height() + 20);
    }
    const int w = m_readoutSize.width();
    const int h = m_readoutSize.height();
    const int ht = height();
    // Corners (1, Height - 1) and (w, Height - h), right and bottom edges exclusive.
    const QRect box(QPoint(1, ht - h), QPoint(w - 1, ht - 2));
    TDXCanvas canvas(m_surface, m_scale, rect(), &m_deviceView);
    canvas.FillRect(box, m_color);
    canvas.Line(box.left(), box.top(), box.right(), box.top(), m_gridColor, psSolid);
    canvas.Line(box.right(), box.top(), box.right(), box.bottom(), m_gridColor, psSolid);
    canvas.Line(box.right(), box.bottom(), box.left(), box.bottom(), m_gridColor, psSolid);
    canvas.Line(box.left(), box.bottom(), box.left(), box.top(), m_gridColor, psSolid);
    canvas.Text(10, ht - h + 10, text, font, clWindowText);
    MarkDirty(box);
}

void TDXHistographInt::CreateValueBar()
{
    if (m_valueBar)
        return;
    m_valueBar = new TFormCalculateBar(this);
    m_valueBar->hide();
}

bool TDXHistographInt::ShowValueBar() const
{
    m_showValueBar = m_valueBar && m_valueBar->isVisible();
    return m_showValueBar;
}

void TDXHistographInt::setShowValueBar(bool Value)
{
    // Compared with the window itself, so a bar closed by its close box can be shown again.
    if (Value == ShowValueBar())
        return;
    CreateValueBar();
    m_showValueBar = Value;
    if (Value) {
        KeepValueBarClearOfToolBar();
        m_valueBar->show();
        m_valueBar->setWindowTitle(QStringLiteral("Display: ") + m_titleTop);
        m_valueBar->SetCalculateLabelsEnabled(m_mode != modeMeasure);
    } else {
        m_valueBar->hide();
    }
}

namespace {

// Frame of a tool window: as the window system tells it once the window is framed; until then
// that of the other tool window, or else a title bar of the style's height.
QMargins ToolFrame(const QWidget* Window, const QWidget* Other)
{
    for (const QWidget* w : {Window, Other}) {
        const QRect outer = w->frameGeometry(), inner = w->geometry();
        if (outer != inner)
            return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                            outer.right() - inner.right(), outer.bottom() - inner.bottom());
    }
    return QMargins(0, Window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, Window), 0,
                    0);
}

QRect OuterRect(const QWidget* Window, const QMargins& Frame)
{
    return QRect(Window->pos(), Window->size().grownBy(Frame));
}

} // namespace

void TDXHistographInt::KeepValueBarClearOfToolBar()
{
    // Both tool windows open centred: the value bar goes just below the tool bar, or just
    // above it where the screen ends, so that neither hides the other. A place the user
    // chose that covers nothing is kept.
    if (!m_valueBar || !m_toolBar || !m_toolBar->isVisible())
        return;
    const QRect tools = OuterRect(m_toolBar, ToolFrame(m_toolBar, m_valueBar));
    const QRect bar = OuterRect(m_valueBar, ToolFrame(m_valueBar, m_toolBar));
    if (!tools.intersects(bar))
        return;
    const QRect area = m_toolBar->screen()->availableGeometry();
    int y = tools.bottom() + 1;
    if (y + bar.height() > area.bottom() + 1)
        y = tools.top() - bar.height();
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - bar.height()));
    const int x = std::clamp(tools.left(), area.left(),
                             std::max(area.left(), area.right() + 1 - bar.width()));
    m_valueBar->move(x, y);
}

bool TDXHistographInt::ToolWindowsOnTop() const
{
    return m_valueBar && m_valueBar->StaysOnTop();
}

void TDXHistographInt::setToolWindowsOnTop(bool Value)
{
    if (m_valueBar)
        m_valueBar->SetStaysOnTop(Value);
}
