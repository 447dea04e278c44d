// The axis dialog of the plot tool bar.

#include "dx_Efa.h"

#include "dxNumberText.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <cmath>
#include <limits>

namespace {

QSpinBox* DecimalsUpDown(QWidget* parent, const char* spinName, const char* editName)
{
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(spinName));
    spin->setRange(0, 100);
    spin->setSingleStep(1);
    spin->setGeometry(88, 104, 105, 21);
    // Only the arrows change the number; its field cannot be typed into.
    auto* field = spin->findChild<QLineEdit*>();
    field->setReadOnly(true);
    field->setObjectName(QLatin1String(editName));
    return spin;
}

} // namespace

TFormAxis::TFormAxis(QWidget* parent) : TPlotDialog(parent)
{
    setObjectName(QStringLiteral("FormAxis"));
    setWindowTitle(QStringLiteral("Axis definition"));
    setFixedSize(217, 327);
    auto group = [this](const char* caption, int top, QLineEdit*& min, QLineEdit*& max,
                        QLineEdit*& gap, const char* names[3]) {
        auto* box = new QGroupBox(QString::fromLatin1(caption), this);
        box->setGeometry(8, top, 201, 137);
        int y = 32;
        for (const char* label : {"Min", "Max", "Distance", "Decimals"}) {
            auto* l = new QLabel(QString::fromLatin1(label), box);
            l->setGeometry(16, y + (y == 104 ? 1 : 0), 70, 16);
            y = y == 80 ? 104 : y + 24;
        }
        QLineEdit** edits[3] = {&min, &max, &gap};
        for (int i = 0; i < 3; ++i) {
            *edits[i] = new QLineEdit(box);
            (*edits[i])->setObjectName(QLatin1String(names[i]));
            (*edits[i])->setGeometry(88, 30 + 24 * i, 97, 21);
        }
        return box;
    };
    const char* xNames[3] = {"EXMin", "EXMax", "EXGap"};
    const char* yNames[3] = {"EYMin", "EYMax", "EYGap"};
    QGroupBox* xBox = group("X-Axis", 8, EXMin, EXMax, EXGap, xNames);
    QGroupBox* yBox = group("Y-axis", 152, EYMin, EYMax, EYGap, yNames);
    EXDecimals = DecimalsUpDown(xBox, "EXDecimals", "Edit2");
    Edit2 = EXDecimals->findChild<QLineEdit*>();
    EYDecimals = DecimalsUpDown(yBox, "EYDecimals", "Edit1");
    Edit1 = EYDecimals->findChild<QLineEdit*>();

    Cancel = CloseButton(QStringLiteral("Cancel"), QRect(8, 296, 89, 25), false);
    Cancel->setObjectName(QStringLiteral("Cancel"));
    Cancel->setAutoDefault(false);
    OKButton = CloseButton(QStringLiteral("OK"), QRect(120, 296, 89, 25), true);
    OKButton->setAutoDefault(false);

    for (EditId id : {eXMin, eXMax, eXGap, eYMin, eYMax, eYGap})
        connect(Edit(id), &QLineEdit::editingFinished, this, [this, id] { ApplyEdit(id); });
    connect(EXDecimals, &QSpinBox::valueChanged, this, [this](int v) {
        if (m_histo)
            m_histo->setViewXDecimals(v);
    });
    connect(EYDecimals, &QSpinBox::valueChanged, this, [this](int v) {
        if (m_histo)
            m_histo->setViewYDecimals(v);
    });
}

QString TFormAxis::ValueText(double Value)
{
    const QString point = QLocale().decimalPoint();
    return QString::fromStdString(
        dxplot::FormatGeneral(Value, 7, point.size() == 1 ? point[0].toLatin1() : '.'));
}

QLineEdit* TFormAxis::Edit(EditId Id) const
{
    QLineEdit* const edits[] = {EXMin, EXMax, EXGap, EYMin, EYMax, EYGap};
    return edits[Id];
}

float TFormAxis::CurrentValue(EditId Id) const
{
    switch (Id) {
    case eXMin:
        return m_histo->ViewXNominalMin();
    case eXMax:
        return m_histo->ViewXNominalMax();
    case eXGap:
        return m_histo->ViewXGap();
    case eYMin:
        return m_histo->ViewYMin();
    case eYMax:
        return m_histo->ViewYMax();
    case eYGap:
        return m_histo->ViewYGap();
    }
    return 0.0f;
}

void TFormAxis::ApplyEdit(EditId Id)
{
    if (!m_histo || m_rejected)
        return;
    const auto parsed = dxplot::ParseDecimal(Edit(Id)->text().toStdString());
    // The properties are single precision: a number beyond its range counts as no number.
    const bool usable = parsed && std::fabs(*parsed) <= std::numeric_limits<float>::max();
    if (!usable) {
        Edit(Id)->setText(ValueText(CurrentValue(Id)));
        return;
    }
    const auto v = static_cast<float>(*parsed);
    switch (Id) {
    case eXMin:
        m_histo->setViewXNominalMin(v);
        m_histo->setViewXCurrentMin(v);
        break;
    case eXMax:
        m_histo->setViewXNominalMax(v);
        m_histo->setViewXCurrentMax(v);
        break;
    case eXGap:
        m_histo->setViewXGap(v);
        break;
    case eYMin:
        m_histo->setViewYMin(v);
        break;
    case eYMax:
        m_histo->setViewYMax(v);
        break;
    case eYGap:
        m_histo->setViewYGap(v);
        break;
    }
}

void TFormAxis::Load()
{
    // Filling the fields must not write anything back before the values are saved.
    const QSignalBlocker bx(EXDecimals), by(EYDecimals);
    EXMin->setText(ValueText(m_histo->ViewXNominalMin()));
    EXMax->setText(ValueText(m_histo->ViewXNominalMax()));
    EXGap->setText(ValueText(m_histo->ViewXGap()));
    EXDecimals->setValue(m_histo->ViewXDecimals());
    EYMin->setText(ValueText(m_histo->ViewYMin()));
    EYMax->setText(ValueText(m_histo->ViewYMax()));
    EYGap->setText(ValueText(m_histo->ViewYGap()));
    EYDecimals->setValue(m_histo->ViewYDecimals());
    m_saved.XNominalMin = m_histo->ViewXNominalMin();
    m_saved.XNominalMax = m_histo->ViewXNominalMax();
    m_saved.XGap = m_histo->ViewXGap();
    m_saved.XCurrentMin = m_histo->ViewXCurrentMin();
    m_saved.XCurrentMax = m_histo->ViewXCurrentMax();
    m_saved.YMin = m_histo->ViewYMin();
    m_saved.YMax = m_histo->ViewYMax();
    m_saved.YGap = m_histo->ViewYGap();
    m_saved.XDecimals = m_histo->ViewXDecimals();
    m_saved.YDecimals = m_histo->ViewYDecimals();
}

void TFormAxis::Restore()
{
    m_histo->setViewXNominalMin(m_saved.XNominalMin);
    m_histo->setViewXCurrentMin(m_saved.XCurrentMin);
    m_histo->setViewXNominalMax(m_saved.XNominalMax);
    m_histo->setViewXCurrentMax(m_saved.XCurrentMax);
    m_histo->setViewXGap(m_saved.XGap);
    m_histo->setViewXDecimals(m_saved.XDecimals);
    m_histo->setViewYMin(m_saved.YMin);
    m_histo->setViewYMax(m_saved.YMax);
    m_histo->setViewYGap(m_saved.YGap);
    m_histo->setViewYDecimals(m_saved.YDecimals);
}
