#include "dx_Eca.h"

#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <algorithm>
#include <initializer_list>

namespace {

// A label at a fixed place; value labels have a fixed width, the others fit their text.
QLabel* Place(QWidget* parent, const char* name, const QString& text, int x, int y, int width = 0,
              bool bold = false)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    if (bold) {
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(pal);
    }
    label->adjustSize();
    if (width > 0)
        label->resize(width, label->height());
    label->move(x, y);
    return label;
}

// The capital delta in the bar's own face, bold and larger than the captions beside it.
QLabel* Delta(QWidget* parent, const char* name, int x, int y)
{
    auto* label = new QLabel(QString(QChar(0x0394)), parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont f = label->font();
    f.setBold(true);
    f.setPixelSize(16);
    label->setFont(f);
    label->adjustSize();
    label->move(x, y);
    return label;
}

QGroupBox* Group(QWidget* parent, const char* name, const QString& title, const QRect& r)
{
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(r);
    return box;
}

// Widens the value labels of a box to Needed pixels, and the box with them; returns by how
// much the box grew.
int WidenValues(QGroupBox* box, std::initializer_list<QLabel*> values, int Needed)
{
    int grow = 0;
    for (QLabel* label : values)
        grow = std::max(grow, Needed - label->width());
    if (grow == 0)
        return 0;
    for (QLabel* label : values)
        label->resize(label->width() + grow, label->height());
    box->resize(box->width() + grow, box->height());
    return grow;
}

} // namespace

TFormCalculateBar::TFormCalculateBar(QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormCalculateBar"));
    setWindowTitle(QStringLiteral("Display: "));
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(11);
    setFont(f);
    setFixedSize(329, 87);
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setGeometry(rect());

    // Zero as the crosses will report values, with the locale's separator.
    const QString zero = QStringLiteral("0") + QLocale().decimalPoint() + QStringLiteral("0000");
    GroupBox1 = Group(panel, "GroupBox1", QStringLiteral("Hair cross 1"), QRect(8, 8, 97, 73));
    Label3 = Place(GroupBox1, "Label3", QStringLiteral("Curve:"), 8, 16, 0, true);
    Series1 = Place(GroupBox1, "Series1", QStringLiteral("1"), 48, 16);
    Label1 = Place(GroupBox1, "Label1", QStringLiteral("X:"), 8, 32, 0, true);
    X1 = Place(GroupBox1, "X1", zero, 24, 32, 65);
    Label2 = Place(GroupBox1, "Label2", QStringLiteral("Y:"), 8, 48, 0, true);
    Y1 = Place(GroupBox1, "Y1", zero, 24, 48, 65);

    GroupBox2 = Group(panel, "GroupBox2", QStringLiteral("Hair cross 2"), QRect(112, 8, 97, 73));
    Label9 = Place(GroupBox2, "Label9", QStringLiteral("Curve:"), 8, 16, 0, true);
    Series2 = Place(GroupBox2, "Series2", QStringLiteral("1"), 48, 16);
    Label7 = Place(GroupBox2, "Label7", QStringLiteral("X:"), 8, 32, 0, true);
    X2 = Place(GroupBox2, "X2", zero, 24, 32, 65);
    Label8 = Place(GroupBox2, "Label8", QStringLiteral("Y:"), 8, 48, 0, true);
    Y2 = Place(GroupBox2, "Y2", zero, 24, 48, 65);

    GroupBox3 = Group(panel, "GroupBox3", QStringLiteral("Measure"), QRect(216, 8, 105, 73));
    Label18 = Place(GroupBox3, "Label18", QStringLiteral("1/"), 11, 21, 0, true);
    Label19 = Delta(GroupBox3, "Label19", 26, 16);
    Label17 = Place(GroupBox3, "Label17", QStringLiteral("X:"), 38, 21, 0, true);
    invdeltax = Place(GroupBox3, "invdeltax", zero, 56, 21, 41);
    Label15 = Delta(GroupBox3, "Label15", 8, 32);
    Label13 = Place(GroupBox3, "Label13", QStringLiteral("X:"), 19, 37, 0, true);
    deltax = Place(GroupBox3, "deltax", zero, 56, 37, 41);
    Label16 = Delta(GroupBox3, "Label16", 8, 48);
    Label22 = Place(GroupBox3, "Label22", QStringLiteral("Y:"), 19, 53, 0, true);
    deltay = Place(GroupBox3, "deltay", zero, 56, 53, 41);
    FitValueTexts(panel);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFormCalculateBar::FitValueTexts(QWidget* Panel)
{
    // The designed widths suit the designed face only; in a wider one "0.00005988" or
    // "1.667E+04" would lose their ends and read as other numbers. The widest text four
    // significant digits can give must fit, so the boxes (and the bar) grow where needed.
    const QFontMetrics fm(X1->font());
    int needed = 0;
    for (const char* widest : {"-0.00008888", "-8.888E-88"})
        needed = std::max(needed, fm.horizontalAdvance(QString::fromLatin1(widest)) + 1);
    int shift = WidenValues(GroupBox1, {X1, Y1}, needed);
    GroupBox2->move(GroupBox2->x() + shift, GroupBox2->y());
    shift += WidenValues(GroupBox2, {X2, Y2}, needed);
    GroupBox3->move(GroupBox3->x() + shift, GroupBox3->y());
    shift += WidenValues(GroupBox3, {invdeltax, deltax, deltay}, needed);
    setFixedSize(width() + shift, height());
    Panel->setGeometry(rect());
}

void TFormCalculateBar::SetCalculateLabelsEnabled(bool Enabled)
{
    for (QLabel* label : {X2, Y2, Series2, deltax, deltay, invdeltax})
        label->setEnabled(Enabled);
}

bool TFormCalculateBar::StaysOnTop() const
{
    return FStaysOnTop;
}

void TFormCalculateBar::SetStaysOnTop(bool OnTop)
{
    // The style is recorded only: a tool window of its main window already stays above that
    // window, and above every program it would cover modal dialogs and other programs' windows.
    FStaysOnTop = OnTop;
}
