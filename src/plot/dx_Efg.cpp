// The grid dialog of the plot tool bar and its line-style list.

#include "dx_Efg.h"

#include "dxCanvas.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStylePainter>
#include <QStyledItemDelegate>

namespace {

class LineStyleDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        // Every item looks the same whatever its selection state.
        TLineStyleBox::DrawItem(*painter, option.rect, index.row());
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(),
                     TLineStyleBox::ItemHeight);
    }
};

} // namespace

TLineStyleBox::TLineStyleBox(QWidget* parent) : QComboBox(parent)
{
    for (int i = 1; i <= 7; ++i)
        addItem(QString::number(i));
    setItemDelegate(new LineStyleDelegate(this));
}

void TLineStyleBox::DrawItem(QPainter& Painter, const QRect& Rect, int Style)
{
    if (Rect.width() <= 0 || Rect.height() <= 0)
        return;
    // The line goes through the plot's own canvas, so the list shows the dashes the plot draws,
    // at the target's pixel density as the plot does.
    const qreal ratio = Painter.device() ? Painter.device()->devicePixelRatio() : 1.0;
    const dxplot::DeviceScale scale = dxplot::DeviceScale::For(Rect.width(), Rect.height(), ratio);
    QImage item(scale.DeviceWidth, scale.DeviceHeight, QImage::Format_RGB32);
    item.setDevicePixelRatio(scale.Ratio);
    const QRect local(QPoint(0, 0), Rect.size());
    {
        TDXCanvas canvas(item, scale, local);
        canvas.FillRect(local, clWhite);
        const int r = local.width() - 1, b = local.height() - 1;
        canvas.Line(0, 0, r, 0, clBlack, psSolid);
        canvas.Line(r, 0, r, b, clBlack, psSolid);
        canvas.Line(r, b, 0, b, clBlack, psSolid);
        canvas.Line(0, b, 0, 0, clBlack, psSolid);
        if (Style >= psSolid && Style <= psInsideFrame) {
            // Middle of the item, with the bottom edge exclusive as in the item rectangle.
            const int y = local.height() / 2;
            canvas.Line(1, y, r, y, clBlack, static_cast<TPenStyle>(Style));
        }
    }
    Painter.drawImage(Rect.topLeft(), item);
}

void TLineStyleBox::paintEvent(QPaintEvent*)
{
    QStylePainter p(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    p.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (currentIndex() >= 0)
        DrawItem(p, field.adjusted(1, 1, -1, -1), currentIndex());
}

TFormGrid::TFormGrid(QWidget* parent) : TPlotDialog(parent)
{
    setObjectName(QStringLiteral("FormGrid"));
    setWindowTitle(QStringLiteral("Grid"));
    setFixedSize(201, 193);
    auto* box = new QGroupBox(QStringLiteral("Grid"), this);
    box->setGeometry(8, 8, 185, 145);
    CBGridVisible = new QCheckBox(QStringLiteral("Grid visible"), box);
    CBGridVisible->setObjectName(QStringLiteral("CBGridVisible"));
    CBGridVisible->setGeometry(16, 24, 153, 17);
    auto* scaling = new QLabel(QStringLiteral("Scaling"), box);
    scaling->setGeometry(16, 48, 153, 13);
    CBScale = new QComboBox(box);
    CBScale->setObjectName(QStringLiteral("CBScale"));
    CBScale->setGeometry(16, 64, 153, 21);
    CBScale->addItems({QStringLiteral("linear/linear"), QStringLiteral("linear/logarithmisch"),
                       QStringLiteral("logarithmisch/linear"),
                       QStringLiteral("logarithmisch/logarithmisch")});
    auto* lineStyle = new QLabel(QStringLiteral("Linestyle"), box);
    lineStyle->setGeometry(16, 96, 153, 13);
    CBLineStyle = new TLineStyleBox(box);
    CBLineStyle->setObjectName(QStringLiteral("CBLineStyle"));
    CBLineStyle->setGeometry(16, 112, 153, 22);

    CancelButton = CloseButton(QStringLiteral("Cancel"), QRect(8, 160, 89, 25), false);
    CancelButton->setAutoDefault(false);
    OKButton = CloseButton(QStringLiteral("OK"), QRect(104, 159, 89, 25), true);
    OKButton->setDefault(true);

    connect(CBGridVisible, &QCheckBox::toggled, this, [this](bool checked) {
        if (m_histo)
            m_histo->setGridVisible(checked ? grdBoth : grdNone);
    });
    connect(CBScale, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_histo && index >= 0)
            m_histo->setGridScale(static_cast<TDXGrdScale>(index));
    });
    connect(CBLineStyle, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_histo && index >= 0)
            m_histo->setGridLineStyle(static_cast<TPenStyle>(index));
    });
}

void TFormGrid::Load()
{
    m_savedLineStyle = m_histo->GridLineStyle();
    m_savedVisible = m_histo->GridVisible();
    m_savedScale = m_histo->GridScale();
    CBScale->setCurrentIndex(m_histo->GridScale());
    CBLineStyle->setCurrentIndex(m_histo->GridLineStyle());
    // The box has one state for all grids: opening the dialog shows a partial grid as the full
    // grid, which Cancel takes back.
    const bool visible = m_histo->GridVisible() != grdNone;
    CBGridVisible->setChecked(visible);
    m_histo->setGridVisible(visible ? grdBoth : grdNone);
}

void TFormGrid::Restore()
{
    m_histo->setGridLineStyle(m_savedLineStyle);
    m_histo->setGridVisible(m_savedVisible);
    m_histo->setGridScale(m_savedScale);
}
