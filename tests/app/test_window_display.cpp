#include "test_window_support.h"

#include <QTest>

#include "ScreenshotU.h"

// The level legend beside the waterfall, the marks where the waterfall's picture jumps, and
// the recording's progress, in the running window.

namespace {

class DisplayTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        StartShown({"DEBUG"});
    }
    // Starts or stops a run; the frames then come from the test, with the test's clock.
    void StartStop()
    {
        Form->BtnStartStop->click();
        Form->Timer1->stop();
    }
    void Frame(double Seconds = 0.02)
    {
        Clock.Advance(Seconds);
        Form->Timer1Timer();
    }
    // The marks as "label@age".
    QStringList Marks() const
    {
        QStringList list;
        for (const auto& mark : Form->Spektro->Marks())
            list << QStringLiteral("%1@%2").arg(mark.Label).arg(mark.Age);
        return list;
    }
    // Frames at the pace of fast scan at 50 frames/s: no new mark among them.
    void Steady(int Frames)
    {
        const qsizetype before = Marks().size();
        for (int i = 0; i < Frames; ++i)
            Frame();
        EXPECT_EQ(Marks().size(), before) << Marks().join(", ").toStdString();
    }
};

} // namespace

// Beside the bars, its colour bar beside the waterfall's rows, in a panel wider by it; plot and
// waterfall keep their shared edges. It follows the bars and the offset at once, and the pictures
// of the display hold it.
TEST_F(DisplayTest, LegendBesideTheWaterfallFollowsTheBars)
{
    TSpektroLegend* legend = Form->Legend;
    // The labels in the normal text colour whether the window is active or not (a desktop's
    // inactive text may be grey): their darkest pixel is it, in the picture the copy takes.
    QPalette palette = legend->palette();
    palette.setColor(QPalette::Inactive, QPalette::WindowText, Qt::red);
    legend->setPalette(palette);
    QWidget other; // takes the activation
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    ASSERT_FALSE(legend->isActiveWindow());
    Form->SBMin->setValue(110);
    const QImage start = legend->Picture();
    QColor darkest = Qt::white;
    for (int y = 0; y < start.height(); ++y)
        for (int x = int((TSpektroLegend::BarWidth + 1) * start.devicePixelRatio());
             x < start.width(); ++x)
            if (qGray(start.pixel(x, y)) < qGray(darkest.rgb()))
                darkest = start.pixelColor(x, y);
    EXPECT_EQ(darkest, palette.color(QPalette::Active, QPalette::WindowText));
    const QRect bar = In(legend).adjusted(0, legend->CaptionHeight(), 0, 0);
    EXPECT_EQ(bar.top(), In(Form->Spektro->WaveBox()).top());
    EXPECT_EQ(bar.bottom(), In(Form->Spektro->WaveBox()).bottom());
    EXPECT_TRUE(In(Form->PnlRangeMin).contains(In(legend)));
    // 3 pixels clear of the bars; the panel 2 wider than the legend.
    EXPECT_EQ(legend->x(), Form->SBMin->geometry().right() + 1 + 3);
    EXPECT_EQ(Form->PnlHistoControl->width(), legend->geometry().right() + 1 + 2);
    const int extra = Form->PnlHistoControl->width() - TForm1::HistoControlPanelWidth;
    EXPECT_GT(extra, 0);
    EXPECT_GE(Form->width(), 880 + extra); // the default size, wider by the legend
    EXPECT_EQ(In(Form->Histo).left(), In(Form->Spektro).left());
    EXPECT_EQ(In(Form->Histo).right(), In(Form->Spektro).right());

    Form->LevelOffset = 10;
    Form->SBMin->setValue(100);
    Form->SBRange->setValue(-20);
    EXPECT_TRUE(legend->ZMin() == -100.0f && legend->ZMax() == -40.0f);
    const QStringList hint = Form->SBRange->toolTip().split(' '); // "Range: -90dBm -30dBm"
    ASSERT_EQ(hint.size(), 3);
    EXPECT_EQ(TSpektroLegend::LabelText(legend->Ticks().back().Shown) + "dBm", hint[1]);
    EXPECT_EQ(TSpektroLegend::LabelText(legend->Ticks().front().Shown) + "dBm", hint[2]);
    Form->EdtLevelOffset->setText("-5");
    Form->EdtFrqOffset->setText("0");
    PressKey(Form->EdtLevelOffset, Qt::Key_Enter, "\r");
    EXPECT_EQ(TSpektroLegend::LabelText(legend->Ticks().front().Shown), "-45");
    SetPanelHeight(Form->PB, 18); // a lower waterfall
    QCoreApplication::processEvents();
    EXPECT_EQ(In(legend).bottom(), In(Form->Spektro->WaveBox()).bottom());

    // The copy and the saved picture: the display panel and the legend beside it, at its place. The
    // copy button's context menu saves it: a cancelled dialog writes nothing, a failed write gives
    // one message. Clear empties the waterfall.
    Frame();
    QApplication::clipboard()->clear();
    Form->BtnCopy2ClpBrd->click();
    const QImage copied = QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
    const QImage panel =
        Form->PnlHistoSpektro->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage scale = legend->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(copied.size(), QSize(panel.width() + 4 + scale.width(), panel.height()));
    EXPECT_TRUE(copied.copy(panel.rect()) == panel);
    const int top = In(legend).top() - In(Form->PnlHistoSpektro).top();
    EXPECT_TRUE(copied.copy(panel.width() + 4, top, scale.width(), scale.height()) == scale);
    const QList<QAction*> menu = Form->BtnCopy2ClpBrd->actions();
    ASSERT_EQ(menu.size(), 1);
    EXPECT_EQ(Form->BtnCopy2ClpBrd->contextMenuPolicy(), Qt::ActionsContextMenu);
    menu[0]->trigger(); // cancelled
    Prompts.Names = {Dir.filePath("no/such/folder/display.png"), Dir.filePath("display.png")};
    menu[0]->trigger();
    EXPECT_TRUE(QDir(Dir.path()).entryList({"*.png"}).isEmpty());
    ASSERT_EQ(Prompts.Errors.size(), 1);
    EXPECT_TRUE(Prompts.Errors[0].contains("no/such/folder/display.png")) << Prompts.Errors[0];
    menu[0]->trigger();
    EXPECT_TRUE(QImage(Dir.filePath("display.png")).convertToFormat(QImage::Format_RGB32) ==
                copied);
    Form->BtnClearDisplay->click();
    const QImage wave = Form->Spektro->WaveImage();
    EXPECT_EQ(wave.pixelColor(wave.width() / 2, wave.height() - 1), QColor(Qt::black));
}

// Every kind of jump in a live run gives one mark at the first row after it, none after; rows
// at most half a second apart make no gap.
TEST_F(DisplayTest, EachLiveJumpMarksItsRowOnce)
{
    Form->SESpeed->setValue(50);
    StartStop();
    Steady(30);
    EXPECT_TRUE(Marks().isEmpty());
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"gap 10 s", [&] { Clock.Advance(10); }},
        {"span", [&] { Form->RGBW->setItemIndex(1); }},
        {"centre", [&] { Form->SBFrq->setValue(15000); }},
        {"FFT", [&] { Form->SEFft->setValue(10); }},
        {"window", [&] { Form->RGFenster->setItemIndex(0); }},
        {"averaging", [&] { Form->SEAvg->setValue(4); }},
        {"offset",
         [&] {
             Form->EdtFrqOffset->setText("0,5");
             Form->EdtLevelOffset->setText("0");
             PressKey(Form->EdtFrqOffset, Qt::Key_Enter, "\r");
         }},
        {"mirror", [&] { Form->CBInverted->setChecked(true); }},
        {"span, FFT", [&] { Form->SEFft->setValue(12), Form->RGBW->setItemIndex(2); }},
        // A file dialog (Record, cancelled) pauses the run; so does Stop and Start.
        {"gap 4.0 s",
         [&] {
             Prompts.OnDialog = [&] { Clock.Advance(4); };
             Form->BtnRecord->click();
             Form->Timer1->stop();
         }},
        {"gap 2 min", [&] { StartStop(), Clock.Advance(125), StartStop(); }},
    };
    for (const auto& [label, change] : changes) {
        change();
        Frame();
        ASSERT_EQ(Marks().size() > 0 ? Marks().back() : QString(),
                  QStringLiteral("%1@0").arg(label));
        Steady(20);
    }
    EXPECT_EQ(Marks().size(), int(std::size(changes)));
    // The mark's line is on its row, twenty rows up; the rows beside it have none.
    const QImage wave = Form->Spektro->WaveImage();
    int dashes = 0;
    for (int x = 0; x < wave.width(); ++x) {
        dashes += wave.pixel(x, wave.height() - 21) == 0xffff00ffu;
        ASSERT_NE(wave.pixel(x, wave.height() - 20), 0xffff00ffu) << x;
    }
    EXPECT_GT(dashes, wave.width() / 3);
    for (const double hiccup : {0.075, 0.15, 0.5}) // the desktop's, not a gap
        Frame(hiccup);
    EXPECT_EQ(Marks().size(), int(std::size(changes)));
    // After Clear the next row has nothing above it to jump from.
    Form->BtnClearDisplay->click();
    Form->SEFft->setValue(9);
    Steady(5);
    EXPECT_TRUE(Marks().isEmpty());
}

// Playback: a file after live rows, a seek, playing on after a pause (no mark), playing again
// from the start after the end, and live again.
TEST_F(DisplayTest, PlaybackJumpsAtFilesAndSeeksOnly)
{
    // Records 1 to 199 behind a blank record 0.
    WriteRecording(Path("rec.spk"), {199, std::vector<int16_t>(TForm1::BlockSamples, 3)});
    Form->SESpeed->setValue(50);
    StartStop();
    Steady(10);
    StartStop();
    Load(Path("rec.spk"));
    StartStop();
    Frame();
    Form->PBMouseUp(Form->PB->width() / 2);
    Frame();
    EXPECT_EQ(Marks(), (QStringList{"file@1", "seek@0"}));
    StartStop();
    Clock.Advance(600);
    StartStop();
    while (Form->BtnStartStop->isChecked())
        Frame();
    StartStop();
    Frame();
    // The seek went to record 100: records 100 .. 199 played, then record 1 again.
    EXPECT_EQ(Marks(), (QStringList{"file@101", "seek@100", "seek@0"}));
    StartStop();
    Form->BtnPlayback->click();
    StartStop();
    Frame();
    EXPECT_EQ(Marks().back(), "live@0");
}

// A played frame writes its time in the waterfall's margin only when its record holds one: of a
// file of unstamped records every row of the margin is blank or the bare axis, one stamped
// record writes there.
TEST_F(DisplayTest, PlayedFramesWriteOnlyTheirRecordsTimes)
{
    for (const double stamp : {0.0, 46000.5}) {
        SCOPED_TRACE(stamp);
        WriteRecording(Path("rec.spk"), {29, std::vector<int16_t>(TForm1::BlockSamples, 3)},
                       std::nullopt, [&](int Record) { return Record == 10 ? stamp : 0.0; });
        Load(Path("rec.spk"));
        Form->BtnClearDisplay->click();
        const QImage blank = Form->Spektro->LeftImage();
        StartStop();
        while (Form->BtnStartStop->isChecked())
            Frame();
        const QImage margin = Form->Spektro->LeftImage();
        const auto row = [](const QImage& Image, int Y) {
            return Image.copy(0, Y, Image.width(), 1);
        };
        int written = 0;
        for (int y = 0; y < margin.height(); ++y)
            written += row(margin, y) != row(blank, y) &&
                       row(margin, y) != row(margin, margin.height() - 1);
        EXPECT_EQ(written > 0, stamp != 0.0) << written;
    }
}

// A file of random bytes (no header, stamps no recorder writes) plays, with the exporter's
// one-line warning once, and its rows are marked by record index, not by the stamps.
TEST_F(DisplayTest, RandomBytesWarnedAndMarkedByIndex)
{
    std::mt19937 rng(17);
    std::string bytes(60 * 16392, '\0');
    for (char& b : bytes)
        b = char(rng());
    std::ofstream(Path("noise.spk").toStdString(), std::ios::binary) << bytes;
    double stamp;
    std::memcpy(&stamp, bytes.data(), sizeof stamp);
    Load(Path("noise.spk"));
    EXPECT_EQ(Prompts.Warnings,
              QStringList{QString::asprintf("noise.spk is probably no recording: it has no header, "
                                            "and the stamp of record 0 (%.17g) is neither 0 nor "
                                            "a date from 1990 to 2100",
                                            stamp)});
    StartStop();
    while (Form->BtnStartStop->isChecked())
        Frame();
    EXPECT_EQ(Form->Spektro->TimeTexts(), QStringList{"#50"}); // records 1 to 59 played
    EXPECT_EQ(Prompts.Warnings.size(), 1);
}

// While recording: elapsed time since the first frame, frames, size with the header, renewed
// once a second; one warning when the disk has less than 1 GB left; a long name shortened to fit.
TEST_F(DisplayTest, RecordingProgressAndLowDiskWarning)
{
    int64_t free = 5000000000;
    QString asked;
    Form->FreeDiskBytes = [&](const QString& Path) { return asked = Path, free; };
    const QLabel* panel = Form->StatusPanels[3];
    // The whole text is the panel's hint.
    const auto status = [&] {
        Form->RecordStatusTick();
        return panel->toolTip();
    };
    Record(Dir.filePath("rec.spk"));
    EXPECT_TRUE(Form->RecordStatusTimer->isActive());
    EXPECT_EQ(Form->RecordStatusTimer->interval(), 1000);
    EXPECT_EQ(status(), "Record to rec.spk  00:00:00  0 frames  0.0 MB");
    EXPECT_EQ(asked, Dir.filePath("rec.spk"));
    Form->SESpeed->setValue(40);
    StartStop(); // the header goes first
    for (int i = 0; i < 3; ++i)
        Frame(0.025);
    EXPECT_EQ(status(), "Record to rec.spk  00:00:00  3 frames  0.1 MB"); // 4 x 16392 bytes
    for (int i = 3; i < 3320; ++i)
        Frame(0.025);
    Clock.Advance(0.1);
    const QString size = QString::asprintf("%.1f", 3321 * 16392 / 1e6);
    EXPECT_EQ(status(), "Record to rec.spk  00:01:23  3320 frames  " + size + " MB");
    free = 1000000000; // not less than 1 GB
    status();
    EXPECT_TRUE(Prompts.Warnings.isEmpty());
    Clock.Advance(3600);
    Clock.Value -= 2.0 / 24; // a wall clock set back changes no elapsed time
    free = 456000000;
    EXPECT_EQ(status(), "Record to rec.spk  01:01:23  3320 frames  " + size + " MB");
    status();
    ASSERT_EQ(Prompts.Warnings.size(), 1);
    EXPECT_EQ(Prompts.Warnings[0],
              "The disk holding rec.spk has less than 1 GB left (0.46 GB free).");
    StartStop(); // ends the recording and its renewals
    EXPECT_EQ(status(), QString());
    EXPECT_FALSE(Form->RecordStatusTimer->isActive());

    // At the window's default width the numbers always show; a name too long for the panel
    // gives way in its middle.
    const QString progress = QString::asprintf("  00:00:00  1 frame  %.1f MB", 2 * 16392 / 1e6);
    for (const QString& name : {QStringLiteral("r.spk"), QString(60, u'r') + "5.spk"}) {
        Record(Dir.filePath(name));
        StartStop();
        Frame();
        EXPECT_EQ(status(), "Record to " + name + progress);
        const QString shown = Form->StatusText(3);
        EXPECT_LE(QFontMetrics(panel->font()).horizontalAdvance(shown),
                  panel->contentsRect().width());
        EXPECT_TRUE(shown.endsWith(progress)) << shown;
        EXPECT_EQ(shown.contains(QChar(0x2026)), name.size() > 5) << shown;
        StartStop();
    }
    EXPECT_EQ(Prompts.Warnings.size(), 3); // once per recording
}

// Each waterfall column shows the bin the plot shows at the same x: the nearest one to the
// column, as the plot places bins (its own pixel mapping), give or take a pixel. Every FFT
// size and span, a centre between bins, and again after the window narrows.
TEST_F(DisplayTest, WaterfallColumnsShowTheBinsThePlotShowsAbove)
{
    StartStop();
    const auto check = [&](int Span, int Exponent) {
        SCOPED_TRACE(testing::Message() << "span item " << Span << ", 2^" << Exponent);
        Form->RGBW->setItemIndex(Span);
        Form->SBFrq->setValue(14321);
        Form->SEFft->setValue(Exponent);
        QCoreApplication::processEvents();
        Frame();
        EXPECT_LE(WaterfallOffPlot(*Form, (1 << Exponent) >> (3 - Span)), 1.0);
    };
    for (int span = 0; span <= 3; ++span)
        for (int exponent = 8; exponent <= 12; ++exponent)
            check(span, exponent);
    Form->resize(Form->minimumSizeHint().width(), Form->height());
    QCoreApplication::processEvents();
    check(1, 10);
    check(3, 8);
}

// Windows are found by the first 31 characters of their names, as the capture always read them.
TEST(WindowCapture, FindsAWindowByTheFirst31CharactersOfItsName)
{
    QWidget window;
    window.setObjectName(QString(30, u'x') + "QZ"); // Q is the 31st character, Z the 32nd
    EXPECT_EQ(FindWindowByText("xQ"), &window);
    EXPECT_EQ(FindWindowByText("QZ"), nullptr);
}
