#include "test_window_support.h"

#include "SpektroNeu.h"
#include "SpektroNeuLegend.h"
#include "SpkFile.h"
#include "dxHisto.h"

#include <cmath>
#include <vector>

// What the display adds to the truth of the picture: the level legend beside the waterfall,
// marks where the waterfall's picture jumps, and the recording's progress.

namespace {

class DisplayTest : public WindowTest
{
protected:
    void StartDebug()
    {
        Start({"DEBUG"});
        Form->show();
        QCoreApplication::processEvents();
    }
    // One frame of the running acquisition, the given seconds after the previous one.
    void Frame(double Seconds = 0.01)
    {
        Clock.Advance(Seconds);
        Form->Timer1Timer();
    }
    std::vector<TSpektroNeu::TMarkInfo> Marks() const { return Form->Spektro->Marks(); }
    // The marks as "label@age".
    QStringList MarkList() const
    {
        QStringList list;
        for (const auto& mark : Marks())
            list << QStringLiteral("%1@%2").arg(mark.Label).arg(mark.Age);
        return list;
    }
    // Runs frames at the fast scan's pace and expects no mark among them.
    void Steady(int Frames)
    {
        const int before = int(Marks().size());
        for (int i = 0; i < Frames; ++i)
            Frame(Form->Timer1->interval() / 1000.0);
        EXPECT_EQ(int(Marks().size()), before) << MarkList().join(", ").toStdString();
    }
    QRect InWindow(const QWidget* W) const
    {
        return QRect(W->mapTo(Form.get(), QPoint(0, 0)), W->size());
    }
};

} // namespace

// The legend stands in the level-bar panel beside the bars, its bar beside the waterfall's
// rows; the panel is wider by its width, the window too, so plot and waterfall keep their
// widths and their shared left and right edges.
TEST_F(DisplayTest, LegendBesideTheWaterfallFollowsTheBars)
{
    StartDebug();
    TSpektroLegend* legend = Form->Legend;
    const QRect wave = InWindow(Form->Spektro->WaveBox());
    const QRect bar = InWindow(legend).adjusted(0, legend->CaptionHeight(), 0, 0);
    EXPECT_EQ(bar.top(), wave.top());
    EXPECT_EQ(bar.bottom(), wave.bottom());
    EXPECT_TRUE(InWindow(Form->PnlRangeMin).contains(InWindow(legend)));
    EXPECT_GT(InWindow(legend).left(), InWindow(Form->SBMin).right());
    EXPECT_GT(InWindow(legend).left(), InWindow(Form->SBRange).right());
    EXPECT_EQ(Form->SBMin->geometry().left(), 14);
    EXPECT_EQ(Form->SBMin->width(), 17);
    EXPECT_GE(InWindow(Form->PnlRangeMin).right(), InWindow(legend).right());

    // The panel is wider by the legend, the window (at least) as much wider than its default.
    const int extra = Form->PnlHistoControl->width() - TForm1::HistoControlPanelWidth;
    EXPECT_GT(extra, 0);
    EXPECT_EQ(Form->PnlHistoControl->minimumWidth(), Form->PnlHistoControl->width());
    EXPECT_GE(Form->width(), 880 + extra);
    EXPECT_EQ(Form->PnlHistoSpektro->width() + Form->PnlHistoControl->width() +
                  Form->PnlSettings->width(),
              Form->width());
    EXPECT_EQ(InWindow(Form->Histo).left(), InWindow(Form->Spektro).left());
    EXPECT_EQ(InWindow(Form->Histo).right(), InWindow(Form->Spektro).right());
    EXPECT_EQ(Form->Histo->GapLeft(), Form->Spektro->GapLeft());
    EXPECT_EQ(Form->Histo->GapRight(), Form->Spektro->GapRight());

    // A bar moved: the legend shows the new scale at once, the offset added as in the hints.
    Form->LevelOffset = 10;
    Form->SBMin->setValue(100);
    Form->SBRange->setValue(-20);
    EXPECT_EQ(legend->ZMin(), -100.0f);
    EXPECT_EQ(legend->ZMax(), -100.0f + 20 + 40);
    const QStringList hint = Form->SBRange->toolTip().split(' ');
    ASSERT_EQ(hint.size(), 3);
    EXPECT_EQ(TSpektroLegend::LabelText(legend->Ticks().back().Shown) + "dBm", hint[1]);
    EXPECT_EQ(TSpektroLegend::LabelText(legend->Ticks().front().Shown) + "dBm", hint[2]);
    // An offset typed in follows at once too.
    Form->EdtLevelOffset->setText("-5");
    Form->EdtFrqOffset->setText("0");
    PressKey(Form->EdtLevelOffset, Qt::Key_Enter, "\r");
    EXPECT_EQ(legend->Offset(), -5.0f);
    EXPECT_EQ(TSpektroLegend::LabelText(legend->Ticks().front().Shown), "-45");

    // With the position bar the waterfall is lower: the legend follows.
    SetPanelHeight(Form->PB, 18);
    QCoreApplication::processEvents();
    EXPECT_EQ(InWindow(legend).bottom(), InWindow(Form->Spektro->WaveBox()).bottom());
}

// The copy and the saved picture: the display panel and, beside it at the waterfall's rows,
// the legend as shown.
TEST_F(DisplayTest, PictureHoldsTheLegend)
{
    StartDebug();
    Frame();
    QApplication::clipboard()->clear();
    Form->BtnCopy2ClpBrd->click();
    const QImage copied = QApplication::clipboard()->image();
    const QImage panel = Form->PnlHistoSpektro->grab().toImage();
    const QImage legend = Form->Legend->grab().toImage();
    ASSERT_EQ(copied.height(), panel.height());
    EXPECT_EQ(copied.width(), panel.width() + 4 + legend.width());
    const QImage rgb = copied.convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(rgb.copy(0, 0, panel.width(), panel.height()) ==
                panel.convertToFormat(QImage::Format_RGB32));
    const int top = InWindow(Form->Legend).top() - InWindow(Form->PnlHistoSpektro).top();
    EXPECT_TRUE(rgb.copy(panel.width() + 4, top, legend.width(), legend.height()) ==
                legend.convertToFormat(QImage::Format_RGB32));
    Prompts.Names.push_back(Dir.filePath("display.png"));
    Form->SaveDisplayClick();
    EXPECT_TRUE(QImage(Dir.filePath("display.png")).convertToFormat(QImage::Format_RGB32) == rgb);
}

// Every kind of jump gives exactly one mark, at the first row after it; a steady run none.
TEST_F(DisplayTest, EachJumpMarksItsRowOnce)
{
    StartDebug();
    Form->SESpeed->setValue(50); // fast scan at 50 frames/s
    Form->BtnStartStop->click();
    Form->Timer1->stop(); // frames come from the test, with the test's clock
    Frame();
    Steady(30);
    EXPECT_TRUE(Marks().empty());

    // Each change, then one frame: one new mark at the newest row, named for the change.
    struct Step
    {
        const char* Label;
        std::function<void()> Change;
    };
    const Step steps[] = {
        {"gap 10 s", [&] { Clock.Advance(10); }},
        {"span", [&] { Form->RGBW->setItemIndex(1); }},
        {"centre", [&] { Form->SBFrq->setValue(15000); }},
        {"FFT", [&] { Form->SEFft->setValue(10); }},
        {"window", [&] { Form->RGFenster->setItemIndex(0); }},
        {"offset",
         [&] {
             Form->EdtFrqOffset->setText("0,5");
             Form->EdtLevelOffset->setText("0");
             PressKey(Form->EdtFrqOffset, Qt::Key_Enter, "\r");
         }},
        {"mirror", [&] { Form->CBInverted->setChecked(true); }},
        {"span, FFT",
         [&] {
             Form->SEFft->setValue(12);
             Form->RGBW->setItemIndex(2);
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.Label);
        const int before = int(Marks().size());
        step.Change();
        Frame(0.02);
        ASSERT_EQ(int(Marks().size()), before + 1) << MarkList().join(", ").toStdString();
        EXPECT_EQ(Marks().back().Label, step.Label);
        EXPECT_EQ(Marks().back().Age, 0);
        Steady(20);
        EXPECT_EQ(Marks().back().Age, 20);
    }
    // The row of a mark carries its line: the row 20 rows up, none between.
    const QImage wave = Form->Spektro->WaveImage();
    const int rowY = wave.height() - 1 - 20;
    int magenta = 0;
    for (int x = 0; x < wave.width(); ++x)
        magenta += wave.pixel(x, rowY) == 0xffff00ffu;
    EXPECT_GT(magenta, wave.width() / 3);
    for (int x = 0; x < wave.width(); ++x)
        ASSERT_NE(wave.pixel(x, rowY + 1), 0xffff00ffu) << x;

    // A pause for a file dialog (Record, cancelled) while running.
    Prompts.OnDialog = [&] { Clock.Advance(4); };
    Form->BtnRecord->click();
    Form->Timer1->stop();
    Frame();
    EXPECT_EQ(Marks().back().Label, "gap 4.0 s");
    Steady(5);
    // Stop and start again.
    Form->BtnStartStop->click();
    Clock.Advance(125);
    Form->BtnStartStop->click();
    Form->Timer1->stop();
    Frame();
    EXPECT_EQ(Marks().back().Label, "gap 2 min");
    Steady(5);
    // After Clear the next row has nothing above it to jump from.
    Form->BtnClearDisplay->click();
    Form->SEFft->setValue(9);
    Frame();
    EXPECT_TRUE(Marks().empty());
    Steady(5);
    EXPECT_TRUE(Marks().empty());
}

// Playback: a file after live rows, a seek, playing on after a pause (no mark), the start
// again after the end, and live again.
TEST_F(DisplayTest, PlaybackJumpsAtFilesAndSeeksOnly)
{
    const QString file = Dir.filePath("rec.spk");
    {
        quillex::TSpkWriter writer;
        writer.Create(file.toStdString());
        std::vector<int16_t> block(TForm1::BlockSamples, 3);
        for (int i = 0; i < 200; ++i)
            writer.AppendRecord(0.0, block.data());
    }
    StartDebug();
    Form->SESpeed->setValue(50);
    Form->BtnStartStop->click();
    Form->Timer1->stop();
    Steady(10);
    Form->BtnStartStop->click();
    Form->BtnPlayback->click();
    Prompts.Names.push_back(file);
    Form->BtnLoadFile->click();
    Form->BtnStartStop->click();
    Form->Timer1->stop();
    Frame();
    EXPECT_EQ(MarkList(), QStringList{"file@0"});
    Steady(10);
    Form->PBMouseUp(Form->PB->width() / 2);
    Frame();
    EXPECT_EQ(MarkList(), (QStringList{"file@11", "seek@0"}));
    // Stopped and started again much later, the file plays on where it was.
    Form->BtnStartStop->click();
    Clock.Advance(600);
    Form->BtnStartStop->click();
    Form->Timer1->stop();
    Steady(10);
    // To the end: the last record stops and rewinds; started again, it plays from the start.
    while (Form->BtnStartStop->isChecked())
        Frame();
    Form->BtnStartStop->click();
    Form->Timer1->stop();
    Frame();
    EXPECT_EQ(Marks().back().Label, "seek");
    EXPECT_EQ(Marks().back().Age, 0);
    Form->BtnStartStop->click();
    // Another file, then live again.
    Prompts.Names.push_back(file);
    Form->BtnLoadFile->click();
    Form->BtnStartStop->click();
    Form->Timer1->stop();
    Frame();
    EXPECT_EQ(Marks().back().Label, "file");
    Form->BtnStartStop->click();
    Form->BtnPlayback->click();
    Form->BtnStartStop->click();
    Form->Timer1->stop();
    Frame();
    EXPECT_EQ(Marks().back().Label, "live");
    EXPECT_EQ(Marks().back().Age, 0);
    Steady(5);
}

// While recording, the status bar says for how long, how many frames and how large, renewed
// once a second, and warns once when the disk has less than 1 GB left.
TEST_F(DisplayTest, RecordingProgressAndLowDiskWarning)
{
    StartDebug();
    int64_t free = 5000000000;
    QString asked;
    Form->FreeDiskBytes = [&](const QString& Path) {
        asked = Path;
        return free;
    };
    Prompts.Names.push_back(Dir.filePath("rec.spk"));
    Form->BtnRecord->click();
    EXPECT_TRUE(Form->RecordStatusTimer->isActive());
    EXPECT_EQ(Form->RecordStatusTimer->interval(), 1000);
    Form->RecordStatusTick();
    EXPECT_EQ(Form->StatusText(3), "Record to rec.spk  00:00:00  0 frames  0.0 MB");
    EXPECT_EQ(asked, Dir.filePath("rec.spk")); // the disk holding the file
    Form->SESpeed->setValue(40);
    Form->BtnStartStop->click(); // the header goes first
    Form->Timer1->stop();
    for (int i = 0; i < 3; ++i)
        Frame(0.025);
    Form->RecordStatusTick(); // the header and three records: 65568 bytes
    EXPECT_EQ(Form->StatusText(3), "Record to rec.spk  00:00:00  3 frames  0.1 MB");
    for (int i = 3; i < 3320; ++i)
        Frame(0.025);
    Clock.Advance(0.1);
    Form->RecordStatusTick();
    // 3320 frames after the first: 83 s; the header and 3320 records of 16392 bytes.
    const QString size = QString::asprintf("%.1f", 3321 * 16392 / 1e6);
    EXPECT_EQ(Form->StatusText(3), "Record to rec.spk  00:01:23  3320 frames  " + size + " MB");
    EXPECT_TRUE(Prompts.Warnings.isEmpty());
    Clock.Advance(3600);
    free = 999999999;
    Form->RecordStatusTick();
    EXPECT_EQ(Form->StatusText(3), "Record to rec.spk  01:01:23  3320 frames  " + size + " MB");
    ASSERT_EQ(Prompts.Warnings.size(), 1);
    EXPECT_TRUE(Prompts.Warnings[0].contains("rec.spk")) << Prompts.Warnings[0];
    EXPECT_TRUE(Prompts.Warnings[0].contains("less than 1 GB")) << Prompts.Warnings[0];
    Form->RecordStatusTick();
    EXPECT_EQ(Prompts.Warnings.size(), 1);
    EXPECT_TRUE(Prompts.Errors.isEmpty());

    // The end of the recording ends the renewals.
    Form->BtnStartStop->click();
    EXPECT_EQ(Form->StatusText(3), QString());
    Form->RecordStatusTick();
    EXPECT_FALSE(Form->RecordStatusTimer->isActive());
    EXPECT_EQ(Form->StatusText(3), QString());
    // A new recording counts from nothing and may warn again.
    Prompts.Names.push_back(Dir.filePath("rec.spk"));
    Form->BtnRecord->click();
    Form->BtnStartStop->click();
    Form->Timer1->stop();
    Frame();
    Form->RecordStatusTick();
    EXPECT_EQ(Form->StatusText(3),
              QString::asprintf("Record to rec.spk  00:00:00  1 frame  %.1f MB", 2 * 16392 / 1e6));
    EXPECT_EQ(Prompts.Warnings.size(), 2);
    // A long name gives way in its middle; the hint has it whole.
    Form->BtnStartStop->click();
    const QString name = "a-recording-with-a-name-of-forty-six-chars.spk";
    Prompts.Names.push_back(Dir.filePath(name));
    Form->BtnRecord->click();
    Form->RecordStatusTick();
    EXPECT_EQ(Form->StatusText(3), "Record to " + name.left(16) + QChar(0x2026) + name.right(15) +
                                       "  00:00:00  0 frames  0.0 MB");
    EXPECT_EQ(Form->StatusPanels[3]->toolTip(),
              "Record to " + name + "  00:00:00  0 frames  0.0 MB");
}
