#include "test_window_support.h"

#include <QTest>
#include <tuple>
#include <vector>

#include "SpektroNeu.h"
#include "SpektroNeuLegend.h"
#include "dxHisto.h"

// Plot, waterfall slice and scroll bar describe one span: the scroll bar's least centre
// is the half span, the plot spans twice that around the centre, and the waterfall's
// bins cover the same kHz.
static void ExpectViewsAgree(const TForm1& Form)
{
    const double half = Form.SBFrq->minimum();
    const double centre = Form.SBFrq->value();
    const double n = Form.FFT->Size();
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
    struct Row
    {
        int Index;
        float Gap;
        int Min; // the half span; the views' agreement gives the maximum and the span
        std::size_t Length;
    };
    for (const Row& r : {Row{0, 250, 2500, 512}, Row{1, 500, 5000, 1024}, Row{2, 1000, 10000, 2048},
                         Row{3, 2000, 20000, 4096}}) {
        Form->RGBW->setItemIndex(r.Index);
        Form->SBFrq->setValue(Form->SBFrq->value() + 4000);
        ExpectViewsAgree(*Form);
        EXPECT_EQ(Form->Histo->ViewXGap(), r.Gap) << r.Index;
        EXPECT_EQ(Form->SBFrq->minimum(), r.Min) << r.Index;
        EXPECT_EQ(Form->WaterfallLine.size(), r.Length) << r.Index;
        EXPECT_TRUE(Form->ViewStartBin >= 0 && Form->ViewStartBin <= 4096 - int(r.Length));
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
// hints; axis labels and the cursor carry the offsets.
TEST_F(WindowTest, ControlsAndOffsetsTakeEffect)
{
    Start();
    Form->RGAtt->setItemIndex(3);
    Form->CBPreamp->setChecked(true);
    EXPECT_TRUE(Calls().endsWith("Sio 1 4,SetAttenuator 3,Sio 5 4")) << Calls();
    Form->RGFenster->setItemIndex(3);
    EXPECT_EQ(Form->FFT->LeakFunction(), wnBlackman);
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
    QString text;
    Form->HistoYAxis(-50.0, text);
    EXPECT_EQ(text, "-45");
    for (const auto& [offset, label] : {std::pair{0.0f, "20.0"}, std::pair{0.5f, "20.50"},
                                        std::pair{0.25f, "20.250"}, std::pair{-1.0f, "19.0"}}) {
        Form->FreqOffset = offset;
        Form->HistoXAxis(20000.0, text);
        EXPECT_EQ(text, label) << offset;
    }
    Form->HistoCrossMove(Form->Histo, 14200.0f, -80.0f, 1, 100);
    EXPECT_EQ(Form->StatusText(1), "Cursor: 13.200 MHz");
}

// Labels of a view narrower than the bandwidth's (a zoom of the plot, or a window wide enough
// for a label per grid line) fall between tenths of a MHz: each shows its own frequency to
// the kHz, so that no two read the same. The offset still sets the fewest decimals.
TEST_F(WindowTest, ZoomedAxisLabelsShowTheDigitsTheyNeed)
{
    Start();
    Form->show();
    std::vector<std::pair<double, QString>> labels;
    const auto format = Form->Histo->OnXAxis;
    Form->Histo->OnXAxis = [&](double Value, QString& Output) {
        format(Value, Output);
        labels.emplace_back(Value, Output);
    };
    for (const float offset : {0.0f, 0.5f}) {
        SCOPED_TRACE(offset);
        Form->FreqOffset = offset;
        // A band from 9.8 to 10.25 MHz, its grid gap scaled with the span as a zoom does.
        labels.clear();
        Form->Histo->setViewXCurrentMin(9800.0f);
        Form->Histo->setViewXCurrentMax(10250.0f);
        Form->Histo->setViewXGap(2000.0f * 450.0f / 40000.0f);
        Form->Histo->RenderNow();
        ASSERT_GE(labels.size(), 3u);
        for (std::size_t i = 0; i < labels.size(); ++i) {
            const double mhz = (offset * 1000.0 + labels[i].first) / 1000.0;
            bool number = false;
            EXPECT_NEAR(labels[i].second.toDouble(&number), mhz, 0.0005) << labels[i].second;
            EXPECT_TRUE(number) << labels[i].second;
            if (i > 0) {
                EXPECT_NE(labels[i].second, labels[i - 1].second);
            }
        }
    }
    QString text;
    for (const auto& [offset, kHz, label] :
         {std::tuple{0.0f, 17250.0, "17.25"}, std::tuple{0.0f, 9875.0, "9.875"},
          std::tuple{0.0f, 17500.0, "17.5"}, std::tuple{0.5f, 17000.0, "17.50"},
          std::tuple{0.25f, 17000.0, "17.250"}}) {
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
}

// Typed keys pass digits, sign and both separators; Enter applies both offsets, and a
// bad level text is reported once while the new frequency offset stays in force.
TEST_F(WindowTest, KeyFilterPassesBothSeparatorsAndEnterAppliesOffsets)
{
    Start();
    Form->EdtFrqOffset->clear();
    for (QChar c : "-0x,5a.2")
        PressKey(Form->EdtFrqOffset, c.toUpper().unicode(), QString(c));
    EXPECT_EQ(Form->EdtFrqOffset->text(), "-0,5.2");
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

// Clear empties the waterfall; the copy holds the plot panel and the level legend.
TEST_F(WindowTest, DisplayButtons)
{
    Start();
    Form->show();
    Form->Timer1Timer();
    Form->BtnClearDisplay->click();
    const QImage wave = Form->Spektro->WaveImage();
    EXPECT_EQ(wave.pixelColor(wave.width() / 2, wave.height() - 1), QColor(Qt::black));
    QApplication::clipboard()->clear();
    Form->BtnCopy2ClpBrd->click();
    const QImage copied = QApplication::clipboard()->image();
    EXPECT_EQ(copied.size(), Form->PnlHistoSpektro->size() + QSize(4 + Form->Legend->width(), 0));

    // Ctrl+S saves the same picture as PNG; the copy button's context menu offers it
    // too. A cancelled dialog writes nothing; a failed write gives one message.
    Form->activateWindow();
    Prompts.Names.push_back(Dir.filePath("display.png"));
    QTest::keyClick(Form.get(), Qt::Key_S, Qt::ControlModifier);
    QImageReader reader(Dir.filePath("display.png"));
    EXPECT_EQ(reader.format(), "png");
    const QImage saved = reader.read();
    EXPECT_EQ(saved.size(), copied.size());
    EXPECT_TRUE(saved.convertToFormat(QImage::Format_RGB32) ==
                copied.convertToFormat(QImage::Format_RGB32));
    const QList<QAction*> menu = Form->BtnCopy2ClpBrd->actions();
    ASSERT_EQ(menu.size(), 1);
    EXPECT_EQ(Form->BtnCopy2ClpBrd->contextMenuPolicy(), Qt::ActionsContextMenu);
    menu[0]->trigger(); // cancelled
    Prompts.Names.push_back(Dir.filePath("no/such/folder/display.png"));
    menu[0]->trigger();
    EXPECT_EQ(QDir(Dir.path()).entryList({"*.png"}), QStringList{"display.png"});
    ASSERT_EQ(Prompts.Errors.size(), 1);
    EXPECT_TRUE(Prompts.Errors[0].contains("no/such/folder/display.png")) << Prompts.Errors[0];
}

// Every caption fits in the font actually used, even in the narrowest window: a status
// panel is as wide as its longest text from the start (so the window does not grow while
// it runs), never narrower than designed, and the settings panel widens for its captions.
TEST_F(WindowTest, TextsAreNotCutInTheFontUsed)
{
    Start();
    Form->show();
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
    Form->HistoCrossMove(Form->Histo, 39999.0f, 0.0f, 1, 0);
    settle();
    expectFits(1);
    EXPECT_EQ(Form->width(), narrowest);

    // A larger font widens a panel with the text written in it.
    QFont larger = Form->StatusBar->font();
    larger.setPixelSize(18);
    Form->StatusBar->setFont(larger);
    Form->SEFft->setValue(11);
    settle();
    expectFits(0);

    // Captions of the settings panel, with the offsets shown and the slow-scan title.
    SetPanelHeight(Form->GBOffsets, 91);
    settle();
    EXPECT_GE(Form->PnlSettings->width(), 137);
    for (QWidget* w : Form->PnlSettings->findChildren<QWidget*>()) {
        const bool caption = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                             qobject_cast<QGroupBox*>(w);
        if (caption && w->isVisible()) {
            EXPECT_GE(w->width(), w->minimumSizeHint().width()) << w->objectName();
        }
    }
}

// The display buttons show pictures drawn for the pixel size asked, with their hints.
TEST_F(WindowTest, DisplayButtonsShowSharpIcons)
{
    Start();
    const std::tuple<QToolButton*, const char*> buttons[] = {
        {Form->BtnClearDisplay, "Clear Display"},
        {Form->BtnCopy2ClpBrd, "Display-->Clipboard"},
        {Form->BtnGrid, "Grid Lines"}};
    std::vector<QImage> pictures;
    for (const auto& [button, hint] : buttons) {
        SCOPED_TRACE(hint);
        EXPECT_EQ(button->toolTip(), hint);
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
        const QIcon icon = button->icon();
        ASSERT_FALSE(icon.isNull());
        for (const qreal scale : {1.0, 2.0, 3.0}) {
            const QPixmap pixmap = icon.pixmap(QSize(24, 24), scale);
            const int side = static_cast<int>(24 * scale);
            // Drawn at the device size, not a small picture blown up.
            EXPECT_EQ(pixmap.size(), QSize(side, side)) << scale;
            EXPECT_EQ(pixmap.devicePixelRatio(), scale);
            const QImage image = pixmap.toImage();
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    opaque += qAlpha(image.pixel(x, y)) > 128;
            // The picture fills a similar share of the square at every scale.
            EXPECT_GT(opaque, side * side / 8) << scale;
            if (scale == 1.0)
                pictures.push_back(image);
        }
    }
    EXPECT_TRUE(pictures[0] != pictures[1] && pictures[1] != pictures[2] &&
                pictures[0] != pictures[2]);
}
