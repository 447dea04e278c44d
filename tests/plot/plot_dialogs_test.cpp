#include "dxNumberText.h"
#include "dx_Efa.h"
#include "dx_Efg.h"
#include "dx_Eft.h"

#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMetaProperty>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace {

// Every property the plot adds to a widget's, and its font colours, to compare a plot before
// and after: nothing a dialog does may change anything but the fields it shows.
struct Snapshot : QVariantMap
{
    explicit Snapshot(const TDXHistographInt& h)
    {
        const QMetaObject* m = h.metaObject();
        for (int i = QWidget::staticMetaObject.propertyCount(); i < m->propertyCount(); ++i)
            insert(m->property(i).name(), m->property(i).read(&h));
        for (int i = 0; i < 6; ++i)
            insert(QString::number(i), h.FontColor(static_cast<TDXHistographInt::TDXFontId>(i)));
    }
    // This snapshot with the named properties set to v, converted to their types.
    Snapshot With(std::vector<const char*> names, QVariant v) const
    {
        Snapshot s = *this;
        for (const char* name : names) {
            EXPECT_TRUE(v.convert(s[name].metaType())) << name;
            s[name] = v;
        }
        return s;
    }
};

// A plot away from every default, so a restore to defaults would show; returns its snapshot.
Snapshot Customise(TDXHistographInt& h)
{
    h.setTitleTop(QStringLiteral("Spectrum"));
    h.setTitleLeft(QStringLiteral("dBm"));
    h.setGridVisible(grdHor);
    h.setGridLineStyle(psDot);
    h.setGridScale(sclLinLin);
    h.setViewXNominalMin(100.0f);
    h.setViewXNominalMax(900.0f);
    h.setViewXCurrentMin(200.0f);
    h.setViewXCurrentMax(800.0f);
    h.setViewXGap(50.0f);
    h.setViewYMin(-140.0f);
    h.setViewYMax(0.5f);
    h.setViewYGap(10.0f);
    h.setViewXDecimals(1);
    h.setViewYDecimals(3);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(13);
    h.setFontTitleLeft(f);
    h.setFontColor(TDXHistographInt::fiTitleTop, clNavy);
    return Snapshot(h);
}

void Finish(QLineEdit* edit)
{
    // Leaving the edit: the focus goes elsewhere.
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    edit->setModified(true);
    QApplication::sendEvent(edit, &out);
}

void Type(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

// Every test starts from the customised plot.
struct PlotDialogs : ::testing::Test
{
    TDXHistographInt h;
    const Snapshot before = Customise(h);
};

} // namespace

// Typing in the title edits changes the plot at every keystroke; fonts come from the font
// chooser and a cancelled choice changes nothing; Cancel writes back exactly what the plot had, OK
// keeps the edits.
TEST_F(PlotDialogs, TitleDialogPreviewsLiveCancelRestoresOkKeeps)
{
    TFormTitle d;
    d.SetHisto(&h);
    bool chooserAccepts = true;
    d.FontChooser = [&](QFont& font, bool) {
        font.setPixelSize(font.pixelSize() + 7);
        font.setBold(true);
        return chooserAccepts;
    };
    for (bool cancel : {true, false}) {
        SCOPED_TRACE(cancel);
        d.show();
        EXPECT_EQ(d.ETop->text(), QStringLiteral("Spectrum"));
        EXPECT_EQ(d.ELeft->text(), QStringLiteral("dBm"));
        d.ETop->end(false);
        QTest::keyClicks(d.ETop, QStringLiteral(" A"));
        EXPECT_EQ(h.TitleTop(), QStringLiteral("Spectrum A"));
        for (QPushButton* b : {d.ButtonBottom, d.ButtonTop, d.ButtonLeft, d.ButtonRight,
                               d.ButtonXAxis, d.ButtonYAxis})
            QTest::mouseClick(b, Qt::LeftButton);
        EXPECT_EQ(h.FontTitleLeft().pixelSize(), 20);
        EXPECT_TRUE(h.FontYAxis().bold());
        chooserAccepts = false;
        QTest::mouseClick(d.ButtonXAxis, Qt::LeftButton);
        EXPECT_EQ(h.FontXAxis().pixelSize(), before["FontXAxis"].value<QFont>().pixelSize() + 7);
        chooserAccepts = true;
        // Colours of fonts are part of what is saved (they travel with the font objects).
        h.setFontColor(TDXHistographInt::fiTitleTop, clRed);
        if (cancel) {
            QTest::mouseClick(d.CancelButton, Qt::LeftButton);
            EXPECT_TRUE(Snapshot(h) == before);
        } else {
            QTest::mouseClick(d.OKButton, Qt::LeftButton);
            EXPECT_EQ(h.TitleTop(), QStringLiteral("Spectrum A"));
            EXPECT_EQ(h.FontColor(TDXHistographInt::fiTitleTop), clRed);
            EXPECT_TRUE(h.FontTitleLeft().bold());
        }
        EXPECT_FALSE(d.isVisible());
    }
    // The close box counts as Cancel.
    const Snapshot kept(h);
    d.show();
    Type(d.ELeft, QStringLiteral("gone"));
    d.close();
    EXPECT_TRUE(Snapshot(h) == kept);
}

// Opening the grid dialog shows a partial grid as the full grid (the box has one state), which
// Cancel takes back; OK (the default button) keeps the changes.
TEST_F(PlotDialogs, GridDialogPreviewsLiveCancelRestoresOkKeeps)
{
    TFormGrid d;
    d.SetHisto(&h);
    d.show();
    EXPECT_TRUE(d.CBGridVisible->isChecked());
    EXPECT_EQ(h.GridVisible(), grdBoth);
    // Items "1" to "7", one per pen style.
    ASSERT_EQ(d.CBLineStyle->count(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(d.CBLineStyle->itemText(i), QString::number(i + 1));
    d.CBScale->setCurrentIndex(3);
    QTest::mouseClick(d.CBGridVisible, Qt::LeftButton);
    EXPECT_EQ(h.GridVisible(), grdNone);
    QTest::mouseClick(d.CancelButton, Qt::LeftButton);
    EXPECT_TRUE(Snapshot(h) == before);
    EXPECT_EQ(h.GridVisible(), grdHor);

    h.setGridVisible(grdNone);
    d.show();
    EXPECT_FALSE(d.CBGridVisible->isChecked());
    QTest::mouseClick(d.CBGridVisible, Qt::LeftButton);
    d.CBScale->setCurrentIndex(1);
    // OK is the default button: Return keeps the changes.
    QTest::keyClick(d.CBGridVisible, Qt::Key_Return);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(h.GridVisible(), grdBoth);
    EXPECT_EQ(h.GridScale(), sclLinLog);

    // A partial grid again, the box still checked from the last opening.
    h.setGridVisible(grdVer);
    d.show();
    EXPECT_EQ(h.GridVisible(), grdBoth);
    d.reject();
    EXPECT_EQ(h.GridVisible(), grdVer);
}

// The axis edits show the values in 7 significant digits; a number typed with ',' or '.' is
// applied when the edit is left (X minimum and maximum move nominal and current together);
// a non-number shows the current value again and changes nothing; the decimals follow the
// up-downs; Cancel writes back exactly the saved values, OK keeps them.
TEST_F(PlotDialogs, AxisDialogAppliesNumbersRestoresNonNumbersAndCancels)
{
    TFormAxis d;
    d.SetHisto(&h);
    // The edits show the locale's separator.
    struct Locale
    {
        Locale() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
        ~Locale() { QLocale::setDefault(QLocale::c()); }
    } german;
    d.show();
    EXPECT_EQ(d.EXMin->text(), QStringLiteral("100"));
    EXPECT_EQ(d.EYMax->text(), QStringLiteral("0,5"));
    EXPECT_EQ(d.EXDecimals->value(), 1);
    EXPECT_EQ(d.EYDecimals->value(), 3);

    Type(d.EXMin, QStringLiteral("150,25"));
    Finish(d.EXMin);
    EXPECT_EQ(h.ViewXCurrentMin(), 150.25f);
    Type(d.EXMax, QStringLiteral(" 850.5 "));
    QTest::keyClick(d.EXMax, Qt::Key_Return);
    EXPECT_EQ(h.ViewXNominalMax(), 850.5f);
    Type(d.EYMin, QStringLiteral("-1e2"));
    Finish(d.EYMin);
    EXPECT_EQ(h.ViewYMin(), -100.0f);

    for (const QString& junk : {QStringLiteral("ten"), QStringLiteral("5,0,0"), QString(),
                                QStringLiteral("1e99"), QStringLiteral("inf")}) {
        SCOPED_TRACE(junk.toStdString());
        Type(d.EXGap, junk);
        if (junk.isEmpty())
            QTest::keyClick(d.EXGap, Qt::Key_Backspace);
        Finish(d.EXGap);
        EXPECT_EQ(h.ViewXGap(), 50.0f);
        EXPECT_EQ(d.EXGap->text(), QStringLiteral("50"));
    }
    Type(d.EYGap, QStringLiteral("x"));
    Finish(d.EYGap);
    EXPECT_EQ(d.EYGap->text(), QStringLiteral("10"));
    EXPECT_EQ(h.ViewYGap(), 10.0f);

    d.EXDecimals->stepUp();
    EXPECT_EQ(h.ViewXDecimals(), 2);

    QTest::mouseClick(d.Cancel, Qt::LeftButton);
    EXPECT_TRUE(Snapshot(h) == before);

    d.show();
    Type(d.EYMax, QStringLiteral("3.25"));
    Finish(d.EYMax);
    QTest::mouseClick(d.OKButton, Qt::LeftButton);
    EXPECT_EQ(h.ViewYMax(), 3.25f);
    EXPECT_EQ(h.ViewXNominalMin(), 100.0f);
}

// Every field of the three dialogs reaches the plot alone (nothing else changes) over its whole
// range, and shows the plot's value when the dialog opens; Cancel then puts everything back.
TEST_F(PlotDialogs, EveryFieldReachesThePlotAloneOverItsRange)
{
    TFormTitle title;
    TFormGrid grid;
    TFormAxis axis;
    // The plot equals the snapshot with the named properties set to v.
    const auto only = [this](const Snapshot& from, std::vector<const char*> names,
                             const QVariant& v) { return Snapshot(h) == from.With(names, v); };
    title.SetHisto(&h);
    title.show();
    for (const auto& [edit, name] : {std::pair{title.EBottom, "TitleBottom"},
                                     {title.ETop, "TitleTop"},
                                     {title.ELeft, "TitleLeft"},
                                     {title.ERight, "TitleRight"}}) {
        const Snapshot from(h);
        Type(edit, QStringLiteral("T"));
        EXPECT_TRUE(only(from, {name}, QStringLiteral("T"))) << name;
    }
    title.reject();
    EXPECT_TRUE(Snapshot(h) == before);

    grid.SetHisto(&h);
    // A combo box of the grid dialog set to each item in turn, from the mirrored item on the plot.
    const auto choose = [&](QComboBox* Box, int Top, const char* Name,
                            std::initializer_list<int> Items) {
        for (int item : Items) {
            h.setProperty(Name, Top - item);
            const Snapshot opened(h);
            grid.show();
            EXPECT_EQ(Box->currentIndex(), Top - item);
            const Snapshot from(h);
            Box->setCurrentIndex(item);
            EXPECT_TRUE(only(from, {Name}, item)) << item;
            grid.reject();
            EXPECT_TRUE(Snapshot(h) == opened);
        }
    };
    choose(grid.CBScale, 3, "GridScale", {3, 0, 2, 1, 0});
    choose(grid.CBLineStyle, 6, "GridLineStyle", {6, 0, 5, 1, 4, 2, 3, 0});

    // The X limits move nominal and current together.
    h.setGridScale(sclLinLin);
    h.setGridLineStyle(psDot);
    ASSERT_TRUE(Snapshot(h) == before);
    axis.SetHisto(&h);
    axis.show();
    using Names = std::vector<const char*>;
    const std::tuple<QLineEdit*, const char*, float, Names> edits[] = {
        {axis.EXMin, "150", 150, {"ViewXNominalMin", "ViewXCurrentMin"}},
        {axis.EXMax, "850", 850, {"ViewXNominalMax", "ViewXCurrentMax"}},
        {axis.EXGap, "25", 25, {"ViewXGap"}},
        {axis.EYMin, "-120", -120, {"ViewYMin"}},
        {axis.EYMax, "0.25", 0.25f, {"ViewYMax"}},
        {axis.EYGap, "5", 5, {"ViewYGap"}}};
    for (const auto& [edit, text, value, names] : edits) {
        const Snapshot from(h);
        Type(edit, QString::fromLatin1(text));
        Finish(edit);
        EXPECT_TRUE(only(from, names, value)) << text;
    }
    for (int g = 0; g < 2; ++g)
        for (int v : {0, 100, 101, -1, 7}) {
            const Snapshot from(h);
            (g ? axis.EYDecimals : axis.EXDecimals)->setValue(v);
            EXPECT_TRUE(only(from, {g ? "ViewYDecimals" : "ViewXDecimals"}, std::clamp(v, 0, 100)))
                << g << " " << v;
        }
    axis.reject();
    EXPECT_TRUE(Snapshot(h) == before);
}

// Seven significant digits: fixed notation while the integer part has at most seven digits
// and the magnitude is at least 0.00001, scientific otherwise, trailing zeros dropped;
// reading accepts either separator and nothing else.
TEST_F(PlotDialogs, SevenDigitTextsAndTypedNumbers)
{
    using dxplot::FormatGeneral;
    EXPECT_EQ(FormatGeneral(0, 7, ','), "0");
    EXPECT_EQ(FormatGeneral(40000, 7, ','), "40000");
    EXPECT_EQ(FormatGeneral(-140, 7, '.'), "-140");
    EXPECT_EQ(FormatGeneral(0.1f, 7, ','), "0,1");
    EXPECT_EQ(FormatGeneral(1234567.4, 7, '.'), "1234567");
    EXPECT_EQ(FormatGeneral(9999999.5, 7, '.'), "1E7");
    EXPECT_EQ(FormatGeneral(12345678, 7, '.'), "1.234568E7");
    EXPECT_EQ(FormatGeneral(0.00001, 7, '.'), "0.00001");
    EXPECT_EQ(FormatGeneral(0.0000099, 7, '.'), "9.9E-6");
    EXPECT_EQ(FormatGeneral(-0.000123456789, 7, ','), "-0,0001234568");
    EXPECT_EQ(FormatGeneral(2.5e-12, 7, '.'), "2.5E-12");

    using dxplot::ParseDecimal;
    EXPECT_EQ(ParseDecimal("1,5"), 1.5);
    EXPECT_EQ(ParseDecimal(" -2.25 "), -2.25);
    EXPECT_EQ(ParseDecimal("+3"), 3.0);
    EXPECT_EQ(ParseDecimal("1.5E-6"), 1.5e-6);
    for (const char* bad :
         {"", " ", "1,5,", "1.2.3", "abc", "0x10", "inf", "nan", "1e400", "+-1", "--1", "1 2"})
        EXPECT_FALSE(ParseDecimal(bad)) << bad;
}
