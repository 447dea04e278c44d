#include "test_window_support.h"

#include <QSpontaneKeyEvent>
#include <QTest>

// Plot, waterfall slice and scroll bar describe one span: the scroll bar's least centre
// is the half span, the plot spans twice that around the centre, and the waterfall's
// bins cover the same kHz.
static void ExpectViewsAgree(const TForm1& Form)
{
    const double half = Form.SBFrq->minimum();
    const double centre = Form.SBFrq->value();
    const double n = Form.Recipe.N();
    EXPECT_EQ(Form.SBFrq->maximum(), 40000 - half);
    EXPECT_EQ(Form.Histo->ViewXCurrentMin(), centre - half);
    EXPECT_EQ(Form.Histo->ViewXCurrentMax(), centre + half);
    const double binKHz = 40000.0 / n;
    EXPECT_NEAR(Form.ViewStartBin * binKHz, centre - half, binKHz / 2);
    EXPECT_EQ(Form.WaterfallLine.size() * binKHz, 2 * half);
}

// Each bandwidth sets the axis gap, the centre's scroll range and the waterfall line;
// the view always spans twice the lowest centre.
TEST_F(WindowTest, BandwidthTableSetsGapScrollRangeAndLineLength)
{
    Start();
    // The plot is fed directly: no source, and none could reshape the view.
    EXPECT_EQ(Form->Histo->MeasureSource(), nullptr);
    EXPECT_FALSE(Form->Histo->AutoConfig());
    Form->SEFft->setValue(12);
    // Each index doubles the half span from 2.5 MHz, the axis gap a tenth of it; the views'
    // agreement gives the maximum, the span and the line's length.
    for (int index = 0; index < 4; ++index) {
        const int half = 2500 << index;
        Form->RGBW->setItemIndex(index);
        Form->SBFrq->setValue(Form->SBFrq->value() + 4000);
        ExpectViewsAgree(*Form);
        EXPECT_EQ(Form->Histo->ViewXGap(), half / 10.0f) << index;
        EXPECT_EQ(Form->SBFrq->minimum(), half) << index;
        EXPECT_TRUE(Form->ViewStartBin >= 0 &&
                    Form->ViewStartBin + std::ssize(Form->WaterfallLine) <= 4096);
    }

    // The centre follows the bandwidth's limits.
    Form->RGBW->setItemIndex(0);
    Form->SBFrq->setValue(2500);
    EXPECT_EQ(Form->StatusText(1), "Center: 2.50 MHz");
    EXPECT_EQ(Form->Histo->ViewXCurrentMin(), 0.0f);
    Form->RGBW->setItemIndex(3); // the only position at 40 MHz is 20000
    EXPECT_EQ(Form->SBFrq->value(), 20000);
    EXPECT_EQ(Form->Histo->ViewXCurrentMax(), 40000.0f);

    // An unusable index reads as the whole spectrum in every view, and the group shows it.
    Form->RGBW->setItemIndex(0);
    Form->SBFrq->setValue(2500);
    Form->RGBW->setItemIndex(-1);
    EXPECT_EQ(Form->RGBW->ItemIndex(), 3);
    ExpectViewsAgree(*Form);
    EXPECT_EQ(Form->SBFrq->minimum(), 20000);

    // Re-selecting 20 MHz at centre 10000 passes through 40 MHz and lands at 20000.
    Form->RGBW->setItemIndex(2);
    Form->SBFrq->setValue(10000);
    Form->ReselectBandwidth();
    EXPECT_EQ(Form->RGBW->ItemIndex(), 2);
    EXPECT_EQ(Form->SBFrq->value(), 20000);
    EXPECT_EQ(Form->Histo->ViewXCurrentMin(), 10000.0f);
}

// Receiver controls reach the receiver; the level bars set the waterfall range and
// hints; axis labels and the cursor carry the offsets, which the offset fields set.
TEST_F(WindowTest, ControlsAndOffsetsTakeEffect)
{
    Start();
    Form->RGAtt->setItemIndex(3);
    Form->CBPreamp->setChecked(true);
    EXPECT_TRUE(Calls().endsWith("Sio 1 4,SetAttenuator 3,Sio 5 4")) << Calls();
    for (const auto& [item, window] : {std::pair{0, wnRectangle}, std::pair{1, wnHanning},
                                       std::pair{2, wnHamming}, std::pair{3, wnBlackman}}) {
        Form->RGFenster->setItemIndex(item);
        EXPECT_EQ(Form->Recipe.Settings().Window, window) << item;
    }
    // The scale follows the bars from the start: ZMin = -Min, ZMax = ZMin - Range + 40.
    const float zMin = -float(Form->SBMin->value());
    EXPECT_EQ(Form->Spektro->ZMin(), zMin);
    EXPECT_EQ(Form->Spektro->ZMax(), zMin - float(Form->SBRange->value()) + 40.0f);
    Form->LevelOffset = 5.0f;
    Form->SBMin->setValue(140);
    Form->SBRange->setValue(-100);
    EXPECT_TRUE(Form->Spektro->ZMin() == -140.0f && Form->Spektro->ZMax() == 0.0f);
    EXPECT_EQ(Form->SBMin->toolTip() + "|" + Form->SBRange->toolTip(),
              "Min: -135dBm|Range: -135dBm 5dBm");
    Form->FreqOffset = -1.0f;
    Form->HistoCrossMove(Form->Histo, 14200.0f, -80.0f, 1, 100);
    EXPECT_EQ(Form->StatusText(1), "Cursor: 13.200 MHz");

    // Labels of a view narrower than the bandwidth's (a zoom of the plot, or a window wide enough
    // for a label per grid line) fall between tenths of a MHz: each shows its own frequency with
    // the digits it needs, to the kHz. The offset still sets the fewest decimals.
    QString text;
    for (const auto& [offset, kHz, label] :
         {std::tuple{0.0f, 17250.0, "17.25"}, std::tuple{0.0f, 9875.0, "9.875"},
          std::tuple{0.0f, 17500.0, "17.5"}, std::tuple{0.5f, 17000.0, "17.50"},
          std::tuple{0.25f, 17000.0, "17.250"}, std::tuple{-1.0f, 20000.0, "19.0"}}) {
        Form->FreqOffset = offset;
        Form->HistoXAxis(kHz, text);
        EXPECT_EQ(text, label) << offset << " " << kHz;
    }
    // Levels likewise: whole dB as before, a zoomed level axis with the digits it needs.
    Form->LevelOffset = 0.0;
    for (const auto& [dbm, label] :
         {std::pair{-45.0, "-45"}, std::pair{-7.0, " -7"}, std::pair{-32.5, "-32.5"},
          std::pair{-32.25, "-32.25"}, std::pair{-32.4999999, "-32.5"}}) {
        Form->HistoYAxis(dbm, text);
        EXPECT_EQ(text, label) << dbm;
    }
    Form->LevelOffset = 0.5;
    Form->HistoYAxis(-120.0, text);
    EXPECT_EQ(text, "-119.5");
    // The label at the scale's top (0 dB, as drawn) names the unit.
    Form->HistoYAxis(0.05, text);
    EXPECT_EQ(text, "[dBm]  1");

    // Typed keys pass digits, sign and both separators; Enter applies both offsets, and a
    // bad level text is reported once while the new frequency offset stays in force.
    Form->EdtFrqOffset->clear();
    for (QChar c : "-0x,5a.2")
        PressKey(Form->EdtFrqOffset, c.toUpper().unicode(), QString(c));
    EXPECT_EQ(Form->EdtFrqOffset->text(), "-0,5.2");
    // Digits, both separators, the minus and the keys up to space pass; nothing else.
    for (char16_t c = 0; c < 128; ++c)
        EXPECT_EQ(OffsetKeyPasses(QChar(c)),
                  (c >= u'0' && c <= u'9') || c <= u' ' || c == u',' || c == u'.' || c == u'-')
            << int(c);
    Form->EdtFrqOffset->setText("-1.25");
    Form->EdtLevelOffset->setText("-3,5");
    PressKey(Form->EdtLevelOffset, Qt::Key_Return, "\r");
    EXPECT_TRUE(Form->FreqOffset == -1.25f && Form->LevelOffset == -3.5f);
    EXPECT_TRUE(Prompts.Errors.isEmpty());
    Form->EdtFrqOffset->setText("2");
    Form->EdtLevelOffset->setText("--");
    PressKey(Form->EdtFrqOffset, Qt::Key_Enter, "\r");
    EXPECT_EQ(Prompts.Errors.size(), 1);
    EXPECT_TRUE(Form->FreqOffset == 2.0f && Form->LevelOffset == -3.5f);
}

// Every caption fits in the font actually used, even in the narrowest window: a status
// panel is as wide as its longest text from the start (so the window does not grow while
// it runs), never narrower than designed, and the settings panel widens for its captions.
TEST_F(WindowTest, TextsAreNotCutInTheFontUsed)
{
    WriteIni("[Offsets]\nFreqMHz=9980.000\nLeveldB=0.0\nEnabled=1\n");
    StartShown();
    const auto settle = [] {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    };
    const std::array<int, 5> designed{250, 130, 130, 240, 50};
    const auto expectFits = [&](int Panel) {
        QLabel* label = Form->StatusPanels[Panel];
        const int text = label->fontMetrics().horizontalAdvance(label->text());
        EXPECT_GE(label->contentsRect().width(), text) << label->text();
        EXPECT_GE(label->width(), designed[Panel]) << label->text();
    };
    Form->resize(1, Form->height()); // as narrow as the window goes
    settle();
    const int narrowest = Form->width();
    Form->RBSlow->setChecked(true);
    for (int exponent = 8; exponent <= 12; ++exponent) {
        Form->SEFft->setValue(exponent);
        Form->Timer1Timer(); // the ticker grows
        Form->Timer1Timer();
        settle();
        expectFits(0);
        expectFits(4);
    }
    // The pointer's read-out with the offset (a transverter's) is a digit longer at the top.
    Form->HistoCrossMove(Form->Histo, 39999.0f, 0.0f, 1, 0);
    settle();
    EXPECT_EQ(Form->StatusText(1), "Cursor: 10019.999 MHz");
    expectFits(1);
    EXPECT_EQ(Form->width(), narrowest);
    // That panel as wide as its longest text from the start: the centre's, the pointer's at
    // either end with the offset in force.
    QLabel probe;
    probe.setFont(Form->StatusPanels[1]->font());
    probe.setFrameStyle(Form->StatusPanels[1]->frameStyle());
    int least = designed[1];
    for (const char* text :
         {"Center: 40.00 MHz", "Cursor: 9980.000 MHz", "Cursor: 10020.000 MHz"}) {
        probe.setText(text);
        least = std::max(least, probe.sizeHint().width());
    }
    EXPECT_EQ(Form->StatusPanels[1]->minimumWidth(), least);
    // Side by side from the bar's left, 2 apart, each the row's full height.
    int left = 0;
    for (const QLabel* panel : Form->StatusPanels) {
        EXPECT_EQ(panel->geometry(),
                  QRect(left, 0, panel->width(), panel->parentWidget()->height()))
            << panel->objectName();
        left += panel->width() + 2;
    }

    // A larger font widens a panel with the text written in it.
    QFont larger = Form->StatusBar->font();
    larger.setPixelSize(18);
    Form->StatusBar->setFont(larger);
    Form->SEFft->setValue(11);
    settle();
    expectFits(0);

    // Captions of the settings panel, with the offsets shown and the slow-scan title.
    EXPECT_GE(Form->PnlSettings->width(), 137);
    for (QWidget* w : Form->PnlSettings->findChildren<QWidget*>()) {
        const bool caption = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                             qobject_cast<QGroupBox*>(w);
        if (caption && w->isVisible()) {
            EXPECT_GE(w->width(), w->minimumSizeHint().width()) << w->objectName();
        }
    }
}

// The display buttons' pictures, on a 24-unit design drawn at 4 pixels a unit: each part in its
// own colour where the design puts it (points well inside a part, so no edge blends them), the
// rest transparent; all grey when disabled.
TEST_F(WindowTest, DisplayButtonsShowTheirOwnPictures)
{
    Start();
    const QRgb ink = qRgb(32, 32, 32), trace = qRgb(0, 150, 0), none = 0;
    const QRgb black = qRgb(0, 0, 0), white = qRgb(255, 255, 255), red = qRgb(200, 30, 30),
               wood = qRgb(176, 128, 64);
    // A point in design units and the colour it shows.
    const auto p = [](double X, double Y, QRgb Colour) { return std::tuple{X, Y, Colour}; };
    using TProbes = std::vector<std::tuple<double, double, QRgb>>;
    const std::tuple<QToolButton*, const char*, TProbes> buttons[] = {
        // A black screen framed in ink, a trace from (4, 14.5) to (6.67, 13.5) on it, a red
        // cross from (12, 12) to (21, 21).
        {Form->BtnClearDisplay, "Clear Display",
         TProbes{p(4.5, 5, black), p(2.5, 10, ink), p(5.33, 14, trace), p(16.5, 16.5, red),
                 p(20, 20, red), p(1, 1, none), p(23, 10, none)}},
        // A board (4 to 20 wide) with an ink clip, a white sheet framed in ink from 6.5 to 17.5
        // across and 6.5 to 20 down, a trace from (7.5, 17) to (9, 16) on the sheet.
        {Form->BtnCopy2ClpBrd, "Display-->Clipboard",
         TProbes{p(5.25, 12, wood), p(12, 21.25, wood), p(12, 9, white), p(15, 14, white),
                 p(12, 20, ink), p(12, 3.5, ink), p(8.25, 16.5, trace), p(1, 12, none),
                 p(22, 12, none)}},
        // A frame from 2.5 to 21.5 with lines at 8.83 and 15.17 each way, open between them.
        {Form->BtnGrid, "Grid Lines",
         TProbes{p(2.5, 5.5, ink), p(21.5, 12, ink), p(12, 21.5, ink), p(8.83, 5.5, ink),
                 p(15.17, 12, ink), p(12, 15.17, ink), p(5.5, 5.5, none), p(12, 12, none),
                 p(18.5, 18.5, none), p(23, 23, none)}}};
    for (const auto& [button, hint, probes] : buttons) {
        SCOPED_TRACE(hint);
        EXPECT_EQ(button->toolTip(), hint);
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
        const QPixmap pixmap = button->icon().pixmap(QSize(24, 24), 2.0);
        EXPECT_TRUE(pixmap.size() == QSize(48, 48) && pixmap.devicePixelRatio() == 2.0);
        const QImage image = button->icon().pixmap(QSize(96, 96)).toImage();
        for (const auto& [x, y, colour] : probes) {
            const QRgb pixel = image.pixel(int(x * 4), int(y * 4));
            // Where nothing is drawn only the alpha counts.
            EXPECT_EQ(colour == none ? QRgb(qAlpha(pixel)) : pixel, colour) << x << "," << y;
        }
        const QImage grey = button->icon().pixmap(QSize(96, 96), QIcon::Disabled).toImage();
        int coloured = 0, opaque = 0;
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 96; ++x) {
                const QColor g = QColor::fromRgba(grey.pixel(x, y));
                opaque += g.alpha() > 128;
                coloured += g.alpha() > 128 && g.hsvSaturation() > 40;
            }
        EXPECT_GT(opaque, 96 * 96 / 8);
        EXPECT_EQ(coloured, 0);
    }
    // The cross of Clear mirrors onto itself about its middle, x = 16.5 units.
    const QImage clear = Form->BtnClearDisplay->icon().pixmap(QSize(96, 96)).toImage();
    int reds = 0, unmatched = 0;
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x)
            if (clear.pixel(x, y) == red) {
                ++reds;
                unmatched += clear.pixel(131 - x, y) != red;
            }
    EXPECT_LT(unmatched, reds / 20) << unmatched << " of " << reds;
}

namespace {

// Parts one below the other from Top to the owner's bottom, each as wide as the owner, with
// neither gap nor overlap.
void ExpectStacked(const QWidget* Owner, std::initializer_list<const QWidget*> Parts, int Top = 0)
{
    for (const QWidget* w : Parts) {
        EXPECT_EQ(In(w, Owner), QRect(0, Top, Owner->width(), w->height())) << w->objectName();
        Top += w->height();
    }
    EXPECT_EQ(Top, Owner->height()) << Owner->objectName();
}

// The visible controls of a group lie inside its frame, below its title, at no less than
// their least size, and none covers another.
void ExpectInsideAndApart(const QWidget* Group)
{
    std::vector<QRect> placed;
    for (const QWidget* w : Group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!w->isVisibleTo(Group))
            continue;
        const QRect r = w->geometry();
        EXPECT_TRUE(Group->contentsRect().contains(r))
            << w->objectName() << " in " << Group->objectName();
        EXPECT_GE(w->height(), w->minimumSizeHint().height()) << w->objectName();
        for (const QRect& other : placed)
            EXPECT_FALSE(r.intersects(other)) << w->objectName() << " in " << Group->objectName();
        placed.push_back(r);
    }
}

// The rows of a column of controls: the first 1 pixel below the title, each next 1 below the
// one before, the last 1 above the frame; each row from 2 pixels in from the frame's left to 2 in
// from its right, its controls side by side 1 apart.
void ExpectColumn(const QWidget* Group)
{
    std::map<int, std::vector<QRect>> rows; // by their tops
    for (const QWidget* w : Group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisibleTo(Group))
            rows[w->y()].push_back(w->geometry());
    const QRect inside = Group->contentsRect();
    int top = inside.top() + 1;
    for (auto& [y, row] : rows) {
        EXPECT_EQ(y, top) << Group->objectName();
        std::sort(row.begin(), row.end(), [](QRect a, QRect b) { return a.x() < b.x(); });
        int left = inside.left() + 2;
        for (const QRect& r : row) {
            EXPECT_EQ(r.x(), left) << Group->objectName() << " row at " << y;
            left = r.right() + 2;
            top = std::max(top, r.bottom() + 2);
        }
        EXPECT_EQ(left, inside.right()) << Group->objectName() << " row at " << y;
    }
    EXPECT_EQ(top, inside.bottom() + 1) << Group->objectName();
}

} // namespace

// The window as designed: the parts of each panel tile it, fixed sizes and ranges hold, the
// settings panel's groups keep their order and their controls, and the plot and waterfall
// share their gaps.
TEST_F(WindowTest, DesignedLayout)
{
    WriteIni("[Offsets]\nEnabled=1\n");
    StartShown();
    RunEvents(100); // the layouts settle
    const QWidget* central = Form->centralWidget();
    int x = 0;
    for (const QWidget* w : {Form->PnlHistoSpektro, Form->PnlHistoControl, Form->PnlSettings}) {
        EXPECT_EQ(In(w, central), QRect(x, 0, w->width(), central->height())) << w->objectName();
        x += w->width();
    }
    EXPECT_EQ(x, central->width());

    EXPECT_EQ(Form->Histo->height(), 248);
    EXPECT_EQ(Form->PnlScrollBarAbout->height(), 22);
    EXPECT_FALSE(Form->PB->isVisible()); // until playback
    ExpectStacked(Form->PnlHistoSpektro, {Form->Histo, Form->Spektro, Form->PnlScrollBarAbout});
    Form->BtnPlayback->click();
    RunEvents(100);
    EXPECT_EQ(Form->PB->height(), 18);
    ExpectStacked(Form->PnlHistoSpektro,
                  {Form->Histo, Form->Spektro, Form->PB, Form->PnlScrollBarAbout});
    EXPECT_EQ(Form->PnlCenter->geometry(), QRect(0, 0, 60, 22));
    EXPECT_TRUE(
        Form->SBFrq->x() == 60 && Form->SBFrq->geometry().right() < Form->Panel->EdtCenter->x() &&
        Form->Channel->SEChannel->geometry().right() == Form->PnlScrollBarAbout->width() - 1);

    const QWidget* control = Form->PnlHistoControl;
    int y = 0;
    for (const QToolButton* b : {Form->BtnClearDisplay, Form->BtnCopy2ClpBrd, Form->BtnGrid}) {
        EXPECT_EQ(b->geometry(), QRect((control->width() - 33) / 2, y, 33, 33)) << b->objectName();
        EXPECT_EQ(b->iconSize(), QSize(24, 24));
        y += 33;
    }
    EXPECT_EQ(Form->PnlAbout->height(), 21);
    ExpectStacked(control, {Form->PnlRangeMin, Form->PnlAbout}, y);
    // The level bars, one above the other in one column, share the height left by their labels.
    const QLabel* range = Form->LblRange;
    const QLabel* least = Form->LblMin;
    for (const int height : {700, 560}) {
        Form->resize(Form->width(), height);
        RunEvents(50);
        EXPECT_TRUE(range->pos() == QPoint(4, 5) && least->x() == 4);
        EXPECT_EQ(least->y(), Form->PnlRangeMin->height() * 50 / 100 + 2);
        const int bar = least->y() - range->y() - 2 * least->height() + 4;
        EXPECT_EQ(Form->SBRange->geometry(), QRect(14, range->y() + range->height() + 4, 17, bar));
        EXPECT_EQ(Form->SBMin->geometry(), QRect(14, least->y() + least->height() + 4, 17, bar));
    }

    // The settings: the scroll area fills the panel above the run controls, the two parts of
    // the splitter are 5 apart, the top groups from the top down, the bottom groups at the
    // bottom.
    EXPECT_EQ(In(Form->ScrollSettings, Form->PnlSettings),
              QRect(0, 0, Form->PnlSettings->width(), Form->GBControl->parentWidget()->y()));
    const QWidget* top = Form->Splitter1->widget(0);
    const QWidget* bottom = Form->Splitter1->widget(1);
    EXPECT_EQ(bottom->y() - top->geometry().bottom() - 1, 5);
    const auto expectOrdered = [](const QWidget* Part, std::initializer_list<QWidget*> Groups) {
        int below = -1;
        for (const QWidget* g : Groups) {
            EXPECT_TRUE(Part->rect().contains(g->geometry())) << g->objectName();
            EXPECT_GT(g->y(), below) << g->objectName();
            below = g->geometry().bottom();
            ExpectInsideAndApart(g);
        }
    };
    expectOrdered(top, {Form->RGFenster, Form->RGAtt, Form->RGBW, Form->GBDisplay,
                        Form->findChild<QGroupBox*>("GBTraces")});
    EXPECT_LT(Form->RGFenster->y(), 5);
    expectOrdered(bottom, {Form->GBOffsets, Form->GBSpeed});
    EXPECT_GT(Form->GBOffsets->y(), bottom->height() - Form->GBSpeed->geometry().bottom());
    EXPECT_EQ(Form->GBOffsets->height(), 91);
    EXPECT_EQ(Form->BtnStartStop->height(), 30);
    // Two columns, filled top to bottom.
    for (TRadioGroup* group : {Form->RGFenster, Form->RGAtt, Form->RGBW}) {
        const auto items = group->findChildren<QRadioButton*>();
        ASSERT_EQ(items.size(), 4);
        EXPECT_TRUE(items[0]->x() == items[1]->x() && items[1]->y() > items[0]->y());
        EXPECT_TRUE(items[2]->y() == items[0]->y() && items[2]->x() > items[0]->geometry().right());
        EXPECT_TRUE(items[3]->x() == items[2]->x() && items[3]->y() == items[1]->y());
        // Tight in the frame: 2 pixels from its left, 1 from its title and its bottom, none from
        // its right.
        const QRect inside = group->contentsRect();
        EXPECT_EQ(items[0]->pos(), inside.topLeft() + QPoint(2, 1));
        EXPECT_EQ(items[1]->geometry().bottom(), inside.bottom() - 1);
        EXPECT_EQ(items[3]->geometry().right(), inside.right());
        if (group == Form->RGBW)
            continue; // it always has a span
        // Exactly the chosen item is checked; an index beyond the items means the nearest end.
        for (const int index : {-3, 0, 3, -1, 1, 6, 2, 4}) {
            group->setItemIndex(index);
            const int chosen = index < 0 ? -1 : std::min(index, 3);
            EXPECT_EQ(group->ItemIndex(), chosen) << index;
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(items[i]->isChecked(), i == chosen) << index;
        }
    }
    for (const QWidget* g : std::initializer_list<const QWidget*>{Form->Measure->GBTraces,
                                                                  Form->GBSpeed, Form->GBControl})
        ExpectColumn(g);
    // Offsets: labels and the check box 4 pixels in from the frame's left, the edits right of
    // the labels up to 4 from its right, the rows 1 apart.
    const auto labels = Form->GBOffsets->findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 2);
    const QRect offsets = Form->GBOffsets->contentsRect();
    for (const QWidget* w :
         std::initializer_list<const QWidget*>{labels[0], labels[1], Form->CBInverted})
        EXPECT_EQ(w->x(), offsets.left() + 4) << w->objectName();
    for (const QLineEdit* e : {Form->EdtFrqOffset, Form->EdtLevelOffset})
        EXPECT_EQ(e->geometry().right(), offsets.right() - 4);
    EXPECT_EQ(Form->EdtLevelOffset->x(), Form->EdtFrqOffset->x());
    EXPECT_EQ(Form->EdtFrqOffset->x(), labels[0]->geometry().right() + 2);
    const QRect first = labels[0]->geometry().united(Form->EdtFrqOffset->geometry());
    const QRect second = labels[1]->geometry().united(Form->EdtLevelOffset->geometry());
    EXPECT_EQ(second.top(), first.bottom() + 2);
    EXPECT_EQ(Form->CBInverted->y(), second.bottom() + 2);
    // Limits (the button's pop-up): in the order built, each label (or check box) 2 pixels in
    // from the frame's left, the fields beside their labels in one column up to 2 from its right,
    // the rows 1 apart from 1 below the title to 1 above the bottom.
    TLimitTools& lt = *Form->Limits;
    QWidget* limits = lt.GBLimits;
    limits->resize(limits->sizeHint());
    limits->layout()->activate();
    const auto names = limits->findChildren<QLabel*>();
    ASSERT_EQ(names.size(), 5);
    const std::pair<QWidget*, QWidget*> rows[] = {
        {names[0], lt.SEUpperOffset}, {names[1], lt.SELowerOffset},  {names[2], lt.SEHoldOff},
        {lt.CBEventLog, nullptr},     {lt.CBRecordOnAlarm, nullptr}, {names[3], lt.SEPreSeconds},
        {names[4], lt.SEPostSeconds}};
    const QRect inside = limits->contentsRect();
    int rowTop = inside.top() + 1;
    for (const auto& [first, field] : rows) {
        EXPECT_EQ(first->x(), inside.left() + 2) << first->objectName();
        QRect row = first->geometry();
        if (!field) { // a check box spans both columns
            EXPECT_EQ(row.right(), inside.right() - 2) << first->objectName();
        } else {
            EXPECT_EQ(static_cast<QLabel*>(first)->buddy(), field);
            EXPECT_EQ(field->x(), lt.SEUpperOffset->x());
            EXPECT_EQ(field->geometry().right(), inside.right() - 2) << field->objectName();
            row |= field->geometry();
        }
        EXPECT_EQ(row.top(), rowTop) << first->objectName();
        rowTop = row.bottom() + 2;
    }
    EXPECT_EQ(rowTop, inside.bottom() + 1);

    Form->RGBW->setItemIndex(0);
    Form->SBFrq->setValue(10000);
    Form->SBFrq->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(Form->SBFrq->value(), 10010);
    Form->SBFrq->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(Form->SBFrq->value(), 9010);

    // Plot and waterfall: the same gaps, so their columns line up; the designed scales.
    const TDXHistograph* histo = Form->Histo;
    EXPECT_TRUE(histo->GapLeft() == 60 && histo->GapRight() == 0 && histo->GapTop() == 10 &&
                histo->GapBottom() == 20);
    EXPECT_TRUE(Form->Spektro->GapLeft() == 60 && Form->Spektro->GapRight() == 0);
    // Without the panel's section: -140..0 dBm, ten divisions of 14 dB.
    EXPECT_TRUE(histo->ViewYMin() == -140.0f && histo->ViewYMax() == 0.0f &&
                histo->ViewYGap() == 14.0f && histo->ViewYDecimals() == 0 &&
                histo->ViewXDecimals() == 0);
    EXPECT_TRUE(histo->SeriesNumber() == 1 && histo->SeriesColor() == 50688u &&
                histo->BkColor() == 0u && histo->ReduceFlicker() && histo->OwnerDrawXAxis() &&
                histo->OwnerDrawYAxis());
    EXPECT_TRUE(Form->Spektro->NoFlicker() && Form->Spektro->XMin() == 0 &&
                Form->Spektro->XMax() == 0 && Form->Spektro->HighlightMin() == 0 &&
                Form->Spektro->HighlightMax() == 0);
    for (const auto& [font, family, pixels] :
         {std::tuple{Form->font(), "MS Sans Serif", 11}, std::tuple{histo->font(), "Arial", 11},
          std::tuple{histo->FontXAxis(), "Arial", 11},
          std::tuple{Form->StatusBar->font(), "Tahoma", 12}}) {
        EXPECT_EQ(font.family(), family);
        EXPECT_EQ(font.pixelSize(), pixels) << family;
    }
}

// Every number control of the window, found by its kind so that none is left out: its range, its
// decimals and the value it shows from the window's creation and after the start-up tick without
// a settings file (the centre then has the whole spectrum's one position).
TEST_F(WindowTest, EveryNumberControlsRangeAndFirstValues)
{
    // Name, least, largest, value when built, value after start-up, decimals.
    std::map<QString, std::vector<double>> rows;
    for (const QString& row :
         QStringLiteral(
             "SEFft 8 12 11 11 0|SEAvg 1 64 1 1 0|SESpeed 1 100 100 40 0|SBMin 20 140 120 120 0|"
             "SBRange -100 0 0 0 0|SBFrq 0 40000 20000 20000 0|PB 1 100 1 1 0|"
             "SEAverageFrames 2 1000 10 10 0|SEUpperOffset 0 100 6 6 1|SELowerOffset 0 100 6 6 1|"
             "SEHoldOff 0 3600 1 1 2|SEPreSeconds 0 60 5 5 2|SEPostSeconds 0 600 5 5 2|"
             "SERef -300 300 0 0 0|SEChannel 0.1 40000 10 10 1")
             .split('|'))
        for (const QString& number : row.split(' ').mid(1))
            rows[row.section(' ', 0, 0)].push_back(number.toDouble());
    Form = std::make_unique<TForm1>(Prompts, Clock, QStringList{});
    for (const bool started : {false, true}) {
        if (started)
            Form->InitTimerTimer();
        QList<QWidget*> controls;
        for (QWidget* w : Form->findChildren<QWidget*>())
            if ((qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QProgressBar*>(w) ||
                 qobject_cast<QAbstractSlider*>(w)) &&
                !w->objectName().isEmpty() && !w->objectName().startsWith("qt_"))
                controls << w;
        ASSERT_EQ(controls.size(), std::ssize(rows));
        for (const QWidget* w : controls) {
            ASSERT_TRUE(rows.count(w->objectName())) << w->objectName();
            const std::vector<double>& r = rows.at(w->objectName());
            const bool centre = started && w == Form->SBFrq;
            EXPECT_EQ(w->property("minimum").toDouble(), centre ? 20000 : r[0]) << w->objectName();
            EXPECT_EQ(w->property("maximum").toDouble(), centre ? 20000 : r[1]) << w->objectName();
            EXPECT_EQ(w->property("value").toDouble(), r[started ? 3 : 2])
                << w->objectName() << " " << started;
            EXPECT_EQ(w->property("decimals").toInt(), r[4]) << w->objectName();
        }
    }
    Form->RBSlow->setChecked(true);
    EXPECT_EQ(Form->SESpeed->maximum(), 60);
}

// The wheel over the settings panel scrolls it: a spin box or combo box under the pointer keeps
// its value unless it has the focus, which a click gives it.
TEST_F(WindowTest, WheelScrollsThePanelAndChangesOnlyAFocusedBox)
{
    StartShown();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    Form->resize(Form->width(), Form->minimumSizeHint().height()); // the panel must scroll
    QCoreApplication::processEvents();
    QScrollBar* bar = Form->ScrollSettings->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    // One notch down, as from the window system, which may hand the box the focus first.
    const auto wheel = [](QWidget* Box) {
        const QPointF at = Box->rect().center();
        QWheelEvent event(at, Box->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&event);
        QApplication::sendEvent(Box, &event);
    };
    for (QWidget* box : {static_cast<QWidget*>(Form->SESpeed),
                         static_cast<QWidget*>(Form->Measure->CBMarkerTrace)}) {
        const auto value = [box] {
            auto* spin = qobject_cast<QSpinBox*>(box);
            return spin ? spin->value() : static_cast<QComboBox*>(box)->currentIndex();
        };
        Form->BtnStartStop->setFocus();
        bar->setValue(bar->maximum() / 2);
        const int before = value(), scrolled = bar->value();
        wheel(box);
        EXPECT_EQ(value(), before) << box->objectName();
        EXPECT_NE(bar->value(), scrolled) << box->objectName();
        box->setFocus();
        wheel(box);
        EXPECT_NE(value(), before) << box->objectName();
    }
}
