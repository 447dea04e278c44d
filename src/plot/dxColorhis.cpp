// The colour grid of the plot's tool bar: 16 stock colours, keyboard walk, marks and an
// immediate colour drag.

#include "dxColorhis.h"

#include <QDrag>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

std::unique_ptr<QMimeData> ColorMimeData(TColor Color)
{
    auto data = std::make_unique<QMimeData>();
    data->setData(QLatin1String(ColorMimeType), QByteArray::number(Color));
    return data;
}

std::optional<TColor> ColorFromMimeData(const QMimeData* Data)
{
    if (!Data || !Data->hasFormat(QLatin1String(ColorMimeType)))
        return std::nullopt;
    bool ok = false;
    const qlonglong v = Data->data(QLatin1String(ColorMimeType)).trimmed().toLongLong(&ok);
    // Only plain colour values: a system colour or garbage from elsewhere is refused.
    if (!ok || v < 0 || v > 0xFFFFFF)
        return std::nullopt;
    return static_cast<TColor>(v);
}

namespace {

QRgb Rgb(TColor c)
{
    return ColorToQColor(c).rgb();
}

// Per channel 255 below half intensity, else 0: readable on any cell colour.
TColor ContrastColor(TColor c)
{
    const QColor q = ColorToQColor(c);
    auto part = [](int v) { return v < 128 ? 255 : 0; };
    return part(q.red()) | (part(q.green()) << 8) | (part(q.blue()) << 16);
}

void Fill(QImage& img, const QRect& r, TColor c)
{
    const QRect rr = r.intersected(img.rect());
    const QRgb v = Rgb(c);
    for (int y = rr.top(); y <= rr.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        std::fill(row + rr.left(), row + rr.right() + 1, v);
    }
}

void SetPixel(QImage& img, int x, int y, QRgb v)
{
    if (img.rect().contains(x, y))
        reinterpret_cast<QRgb*>(img.scanLine(y))[x] = v;
}

void InvertPixel(QImage& img, int x, int y)
{
    if (img.rect().contains(x, y)) {
        QRgb& p = reinterpret_cast<QRgb*>(img.scanLine(y))[x];
        p = (p ^ 0x00FFFFFFu) | 0xFF000000u;
    }
}

// Calls f(x, y) for each pixel of the outline of r, once each.
template <class F> void ForOutline(const QRect& r, F&& f)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    for (int x = r.left(); x <= r.right(); ++x) {
        f(x, r.top());
        if (r.bottom() != r.top())
            f(x, r.bottom());
    }
    for (int y = r.top() + 1; y < r.bottom(); ++y) {
        f(r.left(), y);
        if (r.right() != r.left())
            f(r.right(), y);
    }
}

// Sunken frame: top and left in the shadow colour, bottom and right in the highlight colour.
void SunkenRing(QImage& img, const QRect& r)
{
    const QRgb shadow = Rgb(clBtnShadow), light = Rgb(clBtnHighlight);
    for (int x = r.left(); x <= r.right(); ++x) {
        SetPixel(img, x, r.top(), shadow);
        SetPixel(img, x, r.bottom(), light);
    }
    for (int y = r.top(); y <= r.bottom(); ++y) {
        SetPixel(img, r.left(), y, shadow);
        SetPixel(img, r.right(), y, light);
    }
    SetPixel(img, r.left(), r.bottom(), shadow);
}

// Dotted inverting outline, as focus rectangles are drawn.
void FocusRect(QImage& img, const QRect& r)
{
    ForOutline(r, [&](int x, int y) {
        if (((x - r.left()) + (y - r.top())) % 2 == 0)
            InvertPixel(img, x, y);
    });
}

} // namespace

TColorGridHisto::TColorGridHisto(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    resize(100, 100);
}

void TColorGridHisto::setGridOrdering(TGridOrdering Value)
{
    if (Value == m_ordering || Value < go16x1 || Value > go1x16)
        return;
    m_ordering = Value;
    ShrinkToCells();
    RedrawAll();
}

void TColorGridHisto::setSelection(int Value)
{
    if (Value == m_selection || Value < 0 || Value >= CellCount)
        return;
    const int old = m_selection;
    m_selection = Value;
    DrawCell(old, false);
    DrawCell(m_selection, hasFocus());
    DrawMarks();
}

void TColorGridHisto::MoveMark(int& Index, bool Enabled, int Value)
{
    if (!Enabled || Value == Index || Value < 0 || Value >= CellCount)
        return;
    const int old = Index;
    Index = Value;
    DrawCell(old, old == m_selection && hasFocus());
    DrawCell(Value, Value == m_selection && hasFocus());
    DrawMarks();
    if (OnChange)
        OnChange(this);
}

void TColorGridHisto::setForegroundIndex(int Value)
{
    MoveMark(m_foregroundIndex, m_foregroundEnabled, Value);
}

void TColorGridHisto::setBackgroundIndex(int Value)
{
    MoveMark(m_backgroundIndex, m_backgroundEnabled, Value);
}

void TColorGridHisto::setForegroundEnabled(bool Value)
{
    if (Value != m_foregroundEnabled) {
        m_foregroundEnabled = Value;
        RedrawAll();
    }
}

void TColorGridHisto::setBackgroundEnabled(bool Value)
{
    if (Value != m_backgroundEnabled) {
        m_backgroundEnabled = Value;
        RedrawAll();
    }
}

void TColorGridHisto::setCtl3D(bool Value)
{
    if (Value != m_ctl3D) {
        m_ctl3D = Value;
        RedrawAll();
    }
}

void TColorGridHisto::setColor(TColor Value)
{
    if (Value != m_color) {
        m_color = Value;
        RedrawAll();
    }
}

int TColorGridHisto::SquareFromPos(int X, int Y) const
{
    const int x = std::clamp(X, 0, std::max(width() - 1, 0));
    const int y = std::clamp(Y, 0, std::max(height() - 1, 0));
    const int cw = std::max(CellWidth(), 1), ch = std::max(CellHeight(), 1);
    const int cell = std::min(y / ch, Rows() - 1) * Columns() + std::min(x / cw, Columns() - 1);
    return cell;
}

QRect TColorGridHisto::CellRect(int Index) const
{
    const int c = Columns();
    return QRect(Index % c * CellWidth(), Index / c * CellHeight(), CellWidth(), CellHeight());
}

int TColorGridHisto::NextCell(int From, int Key) const
{
    const int n = CellCount, c = Columns();
    switch (Key) {
    case Qt::Key_Right:
    case Qt::Key_Space:
        return From + 1 < n ? From + 1 : 0;
    case Qt::Key_Left:
        return From > 0 ? From - 1 : n - 1;
    case Qt::Key_Down:
        if (From == n - 1)
            return 0;
        return From + c < n ? From + c : From % c + 1;
    case Qt::Key_Up:
        if (From == 0)
            return n - 1;
        return From >= c ? From - c : n - c + From - 1;
    case Qt::Key_Home:
        return 0;
    case Qt::Key_End:
        return n - 1;
    default:
        return -1;
    }
}

void TColorGridHisto::ShrinkToCells()
{
    const QSize fit(Columns() * CellWidth(), Rows() * CellHeight());
    if (fit != size())
        resize(fit);
}

void TColorGridHisto::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    ShrinkToCells();
    RedrawAll();
}

void TColorGridHisto::RedrawAll()
{
    if (m_surface.size() != size())
        m_surface = QImage(size(), QImage::Format_RGB32);
    m_surface.fill(ColorToQColor(m_color));
    for (int i = 0; i < CellCount; ++i)
        DrawCell(i, false);
    DrawCell(m_selection, hasFocus());
    DrawMarks();
}

void TColorGridHisto::DrawCell(int Index, bool Focused)
{
    if (m_surface.size() != size() || CellWidth() <= 0 || CellHeight() <= 0)
        return;
    const QRect r = CellRect(Index);
    const TColor colour = StockColors[Index];
    if (m_ctl3D) {
        Fill(m_surface, r, clBtnFace);
        const QRect ring = r.adjusted(1, 1, -1, -1);
        SunkenRing(m_surface, ring);
        SunkenRing(m_surface, ring.adjusted(1, 1, -1, -1));
        const QRect inner = r.adjusted(3, 3, -3, -3);
        Fill(m_surface, inner, colour);
        if (Focused)
            FocusRect(m_surface, inner);
    } else {
        ForOutline(r, [&](int x, int y) { SetPixel(m_surface, x, y, Rgb(clBlack)); });
        Fill(m_surface, r.adjusted(1, 1, -1, -1), colour);
        if (Focused) {
            ForOutline(r, [&](int x, int y) { InvertPixel(m_surface, x, y); });
            const QRgb pen = Rgb(ContrastColor(colour));
            ForOutline(r.adjusted(2, 2, -2, -2),
                       [&](int x, int y) { SetPixel(m_surface, x, y, pen); });
        }
    }
    update(r);
}

void TColorGridHisto::DrawMarks()
{
    // "F" and "B" in a colour that stands out from the cell; both on one cell read "FB".
    if (m_surface.size() != size() || (!m_foregroundEnabled && !m_backgroundEnabled))
        return;
    QPainter p(&m_surface);
    p.setFont(font());
    auto mark = [&](int index, const QString& text) {
        const QRect r = CellRect(index);
        p.setPen(ColorToQColor(ContrastColor(StockColors[index])));
        p.drawText(r, Qt::AlignCenter, text);
        update(r);
    };
    const bool same =
        m_foregroundEnabled && m_backgroundEnabled && m_foregroundIndex == m_backgroundIndex;
    if (same) {
        mark(m_foregroundIndex, QStringLiteral("FB"));
        return;
    }
    if (m_foregroundEnabled)
        mark(m_foregroundIndex, QStringLiteral("F"));
    if (m_backgroundEnabled)
        mark(m_backgroundIndex, QStringLiteral("B"));
}

void TColorGridHisto::paintEvent(QPaintEvent* event)
{
    if (m_surface.size() != size())
        RedrawAll();
    QPainter p(this);
    p.drawImage(event->rect(), m_surface, event->rect());
}

void TColorGridHisto::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        RedrawAll();
    QWidget::changeEvent(event);
}

void TColorGridHisto::focusInEvent(QFocusEvent* event)
{
    DrawCell(m_selection, true);
    DrawMarks();
    QWidget::focusInEvent(event);
}

void TColorGridHisto::focusOutEvent(QFocusEvent* event)
{
    DrawCell(m_selection, false);
    DrawMarks();
    QWidget::focusOutEvent(event);
}

void TColorGridHisto::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    setSelection(SquareFromPos(pos.x(), pos.y()));
    QWidget::mousePressEvent(event);
    // No threshold: the press itself starts the drag.
    StartDrag();
}

void TColorGridHisto::StartDrag()
{
    auto data = ColorMimeData(SelectColor());
    if (DragStarter) {
        DragStarter(std::move(data));
        return;
    }
    auto* drag = new QDrag(this);
    QPixmap swatch(16, 16);
    swatch.fill(ColorToQColor(SelectColor()));
    drag->setPixmap(swatch);
    drag->setHotSpot(QPoint(-4, -4));
    drag->setMimeData(data.release());
    drag->exec(Qt::CopyAction);
}

void TColorGridHisto::keyPressEvent(QKeyEvent* event)
{
    const int next = NextCell(m_selection, event->key());
    if (next >= 0) {
        setSelection(next);
        return;
    }
    const QString text = event->text();
    const QChar ch = text.size() == 1 ? text[0].toUpper() : QChar();
    if (ch == QLatin1Char('F')) {
        if (!m_foregroundEnabled && m_clickEnablesColor)
            setForegroundEnabled(true);
        setForegroundIndex(m_selection);
        return;
    }
    if (ch == QLatin1Char('B')) {
        if (!m_backgroundEnabled && m_clickEnablesColor)
            setBackgroundEnabled(true);
        setBackgroundIndex(m_selection);
        return;
    }
    QWidget::keyPressEvent(event);
}
