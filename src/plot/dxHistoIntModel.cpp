// Construction, published properties and series storage of the plot control.

#include "dxHistoInt.h"
#include "dx_Eca.h"
#include "dx_Etb.h"

#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <new>

namespace {

template <class T> bool Change(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

TDXHistographInt::TDXHistographInt(QWidget* parent) : QWidget(parent)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(11);
    setFont(f);
    resize(270, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Colours dragged from a colour grid recolour the element they are dropped on.
    setAcceptDrops(true);
    m_fonts.fill(font());
    m_fontColors.fill(clWindowText);
    m_titleRects.fill(QRect(-1, -1, 0, 0));
    m_timer = new QTimer(this);
    m_timer->setInterval(m_timerInterval);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (OnTimer)
            OnTimer(m_timer);
    });
    AdjustPointBuffer();
    // The cross follows the pointer without a button; leaving the widget erases it.
    setMouseTracking(true);
    CreateValueBar();
}

TDXHistographInt::~TDXHistographInt() = default;

void TDXHistographInt::Invalidate()
{
    m_surfaceStale = true;
    m_backgroundValid = false;
    update();
}

QString TDXHistographInt::Copyright() const
{
    return QStringLiteral("Quillex spectrum plot component");
}

void TDXHistographInt::setEnableUpdate(bool Value)
{
    if (Change(m_enableUpdate, Value) && Value)
        Invalidate();
}

void TDXHistographInt::setShowToolBar(bool Value)
{
    if (Value == m_showToolBar)
        return;
    if (!m_toolBar) {
        m_toolBar = new TFormToolBar(this);
        m_toolBar->SetHisto(this);
    }
    m_showToolBar = Value;
    if (Value) {
        m_toolBar->setWindowTitle(QStringLiteral("Tools: ") + m_titleTop);
        m_toolBar->show();
        KeepValueBarClearOfToolBar();
    } else {
        m_toolBar->hide();
    }
}

void TDXHistographInt::setGridColor(TColor Value)
{
    if (Change(m_gridColor, Value))
        Invalidate();
}

void TDXHistographInt::setBkColor(TColor Value)
{
    if (Change(m_bkColor, Value))
        Invalidate();
}

void TDXHistographInt::setColor(TColor Value)
{
    if (Change(m_color, Value))
        Invalidate();
}

void TDXHistographInt::setGridVisible(TDXGrdVisible Value)
{
    if (!Change(m_gridVisible, Value))
        return;
    Invalidate();
    if (OnGridVisibleChange)
        OnGridVisibleChange(this);
}

void TDXHistographInt::setGridLineStyle(TPenStyle Value)
{
    if (Change(m_gridLineStyle, Value))
        Invalidate();
}

void TDXHistographInt::setBorderStyle(TBorderStyle Value)
{
    if (Change(m_borderStyle, Value))
        Invalidate();
}

void TDXHistographInt::setGapRight(int Value)
{
    if (Change(m_gapRight, Value))
        Invalidate();
}

void TDXHistographInt::setGapLeft(int Value)
{
    if (Change(m_gapLeft, Value))
        Invalidate();
}

void TDXHistographInt::setGapTop(int Value)
{
    if (Change(m_gapTop, Value))
        Invalidate();
}

void TDXHistographInt::setGapBottom(int Value)
{
    if (Change(m_gapBottom, Value))
        Invalidate();
}

void TDXHistographInt::setTitleRight(const QString& Value)
{
    if (Change(m_titleRight, Value))
        Invalidate();
}

void TDXHistographInt::setTitleLeft(const QString& Value)
{
    if (Change(m_titleLeft, Value))
        Invalidate();
}

void TDXHistographInt::setTitleBottom(const QString& Value)
{
    if (Change(m_titleBottom, Value))
        Invalidate();
}

void TDXHistographInt::setShowValues(bool Value)
{
    if (Change(m_showValues, Value))
        Invalidate();
}

void TDXHistographInt::setShowCross(bool Value)
{
    if (Change(m_showCross, Value))
        Invalidate();
}

void TDXHistographInt::setReduceFlicker(bool Value)
{
    if (Change(m_reduceFlicker, Value))
        Invalidate();
}

void TDXHistographInt::setTitleTop(const QString& Value)
{
    if (!Change(m_titleTop, Value))
        return;
    if (m_valueBar)
        m_valueBar->setWindowTitle(QStringLiteral("Display: ") + Value);
    if (m_toolBar)
        m_toolBar->setWindowTitle(QStringLiteral("Tools: ") + Value);
    Invalidate();
}

void TDXHistographInt::SetFont(TDXFontId Id, const QFont& Value)
{
    m_fontSet[Id] = true;
    if (Change(m_fonts[Id], Value))
        Invalidate();
}

void TDXHistographInt::setFontColor(TDXFontId Id, TColor Value)
{
    if (Change(m_fontColors[Id], Value))
        Invalidate();
}

void TDXHistographInt::setFontTitleTop(const QFont& Value)
{
    SetFont(fiTitleTop, Value);
}

void TDXHistographInt::setFontXAxis(const QFont& Value)
{
    SetFont(fiXAxis, Value);
}

void TDXHistographInt::setFontYAxis(const QFont& Value)
{
    SetFont(fiYAxis, Value);
}

void TDXHistographInt::setFontTitleBottom(const QFont& Value)
{
    SetFont(fiTitleBottom, Value);
}

void TDXHistographInt::setFontTitleLeft(const QFont& Value)
{
    SetFont(fiTitleLeft, Value);
}

void TDXHistographInt::setFontTitleRight(const QFont& Value)
{
    SetFont(fiTitleRight, Value);
}

void TDXHistographInt::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        Invalidate();
    QWidget::changeEvent(event);
}

void TDXHistographInt::setSeriesNumber(int Value)
{
    if (Value >= 1 && Value <= MaxSeries && Change(m_seriesNumber, Value))
        Invalidate();
}

void TDXHistographInt::setSeriesCurrent(int Value)
{
    if (Value >= 1 && Value <= MaxSeries && Change(m_seriesCurrent, Value))
        Invalidate();
}

bool TDXHistographInt::SeriesAddressable() const
{
    return m_seriesCurrent >= 1 && m_seriesCurrent <= MaxSeries &&
           m_seriesCurrent <= m_seriesNumber;
}

TColor TDXHistographInt::SeriesColor() const
{
    return SeriesAddressable() ? m_series[m_seriesCurrent - 1].LineColor : 0;
}

void TDXHistographInt::setSeriesColor(TColor Value)
{
    if (SeriesAddressable() && Change(m_series[m_seriesCurrent - 1].LineColor, Value))
        Invalidate();
}

TPenStyle TDXHistographInt::SeriesLineStyle() const
{
    return m_series[SeriesAddressable() ? m_seriesCurrent - 1 : 0].PenStyle;
}

void TDXHistographInt::setSeriesLineStyle(TPenStyle Value)
{
    if (SeriesAddressable() && Change(m_series[m_seriesCurrent - 1].PenStyle, Value))
        Invalidate();
}

TDXDataKind TDXHistographInt::SeriesStyle() const
{
    return m_series[SeriesAddressable() ? m_seriesCurrent - 1 : 0].Kind;
}

void TDXHistographInt::setSeriesStyle(TDXDataKind Value)
{
    if (SeriesAddressable() && Change(m_series[m_seriesCurrent - 1].Kind, Value))
        Invalidate();
}

void TDXHistographInt::setReferenceRubberWidth(int Value)
{
    if (Value >= 1 && Change(m_referenceRubberWidth, Value))
        Invalidate();
}

void TDXHistographInt::setTimerInterval(int Value)
{
    m_timerInterval = Value;
    m_timer->setInterval(std::max(Value, 0));
    UpdateTimer();
}

void TDXHistographInt::setTimerEnabled(bool Value)
{
    m_timerEnabled = Value;
    UpdateTimer();
}

void TDXHistographInt::UpdateTimer()
{
    // An interval of 0 would fire continuously; such a timer stays idle instead.
    if (m_timerEnabled && m_timerInterval > 0)
        m_timer->start();
    else
        m_timer->stop();
}

QList<int> TDXHistographInt::Series() const
{
    QList<int> out;
    for (int i = 0; i < m_seriesNumber; ++i)
        out << m_series[i].LineColor << m_series[i].PenStyle << m_series[i].Kind;
    return out;
}

void TDXHistographInt::setSeries(const QList<int>& Values)
{
    // Values fill series 1, 2, ... three at a time; triples beyond the table are ignored, and so
    // are ordinals that name no pen style or kind.
    const int n = std::min<qsizetype>(Values.size(), 3 * MaxSeries);
    for (int i = 0; i < n; ++i) {
        TDXSeries& s = m_series[i / 3];
        const int v = Values[i];
        switch (i % 3) {
        case 0:
            s.LineColor = v;
            break;
        case 1:
            if (v >= psSolid && v <= psInsideFrame)
                s.PenStyle = static_cast<TPenStyle>(v);
            break;
        default:
            if (v >= dtData && v <= dtLowerRef)
                s.Kind = static_cast<TDXDataKind>(v);
            break;
        }
    }
    Invalidate();
}

const TDXHistographInt::TDXSeries& TDXHistographInt::SeriesRecord(int Series) const
{
    static const TDXSeries empty{};
    return Series >= 1 && Series <= MaxSeries ? m_series[Series - 1] : empty;
}

void TDXHistographInt::FreeSeriesData(int index)
{
    TDXSeries& s = m_series[index];
    if (s.Owned)
        m_ownedData[index].reset();
    s.Data = nullptr;
    s.Count = 0;
    s.Owned = false;
    s.Pairs = false;
}

void TDXHistographInt::AssignSeriesData(float* Data, int Count, int Series)
{
    if (Series < 1 || Series > MaxSeries || Series > m_seriesNumber)
        return;
    const int index = Series - 1;
    FreeSeriesData(index);
    TDXSeries& s = m_series[index];
    switch (s.Kind) {
    case dtData:
        s.Data = Data;
        s.Count = Count;
        break;
    case dtUpperRef:
    case dtLowerRef:
        if (Data && Count >= 1 && Count <= MaxReferenceCount) {
            std::unique_ptr<float[]> copy(new (std::nothrow) float[Count]);
            if (!copy)
                break;
            std::copy(Data, Data + Count, copy.get());
            s.Data = copy.get();
            s.Count = Count;
            s.Owned = true;
            m_ownedData[index] = std::move(copy);
        }
        break;
    case dtDataXY:
        break;
    }
}

void TDXHistographInt::SetSeriesData(float* Data, int Count, int Series)
{
    AssignSeriesData(Data, Count, Series);
    AdjustPointBuffer();
    RefreshData();
}

void TDXHistographInt::SetSeriesDataXY(const float* Pairs, int Count, int Series)
{
    if (Series < 1 || Series > MaxSeries || Series > m_seriesNumber)
        return;
    const int index = Series - 1;
    FreeSeriesData(index);
    TDXSeries& s = m_series[index];
    s.Kind = dtDataXY;
    if (Pairs && Count >= 1 && Count <= MaxReferenceCount / 2) {
        std::unique_ptr<float[]> copy(new (std::nothrow) float[2 * std::size_t(Count)]);
        if (copy) {
            std::copy(Pairs, Pairs + 2 * std::size_t(Count), copy.get());
            s.Data = copy.get();
            s.Count = Count;
            s.Owned = true;
            s.Pairs = true;
            m_ownedData[index] = std::move(copy);
        }
    }
    AdjustPointBuffer();
    RefreshData();
}

void TDXHistographInt::AdjustPointBuffer()
{
    int wanted = 0;
    for (int i = 0; i < m_seriesNumber; ++i)
        wanted = std::max(wanted, m_series[i].Count);
    wanted = std::min(wanted, MaxPointBuffer);
    if (wanted > static_cast<int>(m_pointBuffer.size()))
        m_pointBuffer.resize(wanted);
}
