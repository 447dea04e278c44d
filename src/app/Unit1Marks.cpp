#include "Unit1.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QPalette>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>

#include "ScreenshotU.h"
#include "SpektroNeu.h"
#include "SpektroNeuLegend.h"

// What the waterfall shows beside and across its rows: the level legend, and marks where its
// picture jumps.

namespace {

// The legend starts right of the level bars.
constexpr int LegendLeft = 34;
// Marks of jumps are magenta, a colour the palette never shows.
const QColor JumpMarkColour(0xff, 0x00, 0xff);

} // namespace

void TForm1::UpdateLegend()
{
    Legend->SetScale(Spektro->ZMin(), Spektro->ZMax(), LevelOffset);
    // An offset may need wider labels: the panel widens, the level bars stay where they are.
    const int width = LegendLeft + Legend->NeededWidth() + 2;
    if (PnlHistoControl->width() < width || PnlHistoControl->minimumWidth() < width)
        PnlHistoControl->setFixedWidth(width);
    PlaceLegend();
}

int TForm1::LegendExtraWidth() const
{
    return PnlHistoControl->minimumWidth() - HistoControlPanelWidth;
}

// The bar lies beside the waterfall's rows, the caption above them.
void TForm1::PlaceLegend()
{
    if (Legend == nullptr)
        return;
    const QWidget* wave = Spektro->WaveBox();
    const int caption = Legend->CaptionHeight();
    const int top =
        wave->mapTo(this, QPoint(0, 0)).y() - PnlRangeMin->mapTo(this, QPoint(0, 0)).y();
    Legend->setGeometry(LegendLeft, top - caption, Legend->NeededWidth(), wave->height() + caption);
}

QImage TForm1::DisplayPicture()
{
    const QImage panel =
        GrabWindowByText(QStringLiteral("PnlHistoSpektro"), [this](int Ms) { WaitMs(Ms); });
    if (panel.isNull())
        return panel;
    const QImage legend = Legend->grab().toImage();
    const double ratio = panel.devicePixelRatio();
    const int gap = 4;
    QImage picture(panel.width() + qRound((gap + Legend->width()) * ratio), panel.height(),
                   QImage::Format_RGB32);
    picture.setDevicePixelRatio(ratio);
    picture.fill(QApplication::palette().color(QPalette::Window));
    QPainter painter(&picture);
    painter.drawImage(QPointF(0, 0), panel);
    const int top =
        Legend->mapTo(this, QPoint(0, 0)).y() - PnlHistoSpektro->mapTo(this, QPoint(0, 0)).y();
    painter.drawImage(QPointF(panel.width() / ratio + gap, top), legend);
    return picture;
}

quillex::TRowState TForm1::WaterfallRowState() const
{
    quillex::TRowState row;
    const int n = FftSize();
    row.Source = PlaybackMode ? quillex::TRowSource::File : quillex::TRowSource::Live;
    row.Time = FrameTime * 86400.0;
    row.FramePeriod = RBSync->isChecked()   ? AvgFrameTime / 1000.0
                      : RBSlow->isChecked() ? ScanInterval * 86400.0
                                            : Timer1->interval() / 1000.0;
    row.FileId = PlaybackFileId;
    row.Record = PlaybackRecord;
    row.SpanKHz = n > 0 ? double(WaterfallLine.size()) * 40000.0 / n : 0.0;
    row.CentreKHz = SBFrq->value();
    row.FftSize = n;
    row.Window = static_cast<int>(Recipe.Settings().Window);
    row.Averaging = SEAvg->value();
    row.FreqOffset = FreqOffset;
    row.LevelOffset = LevelOffset;
    row.Inverted = CBInverted->isChecked();
    return row;
}

// Runs for every row the waterfall gets; a steady run finds nothing and draws nothing.
void TForm1::MarkWaterfallJump()
{
    if (const quillex::TJump jump = RowJumps.Next(WaterfallRowState())) {
        // "gap 2.5 s" with the locale's separator, as every number of the window.
        QString label = QString::fromStdString(quillex::JumpLabel(jump));
        label.replace(QLatin1Char('.'), QLocale().decimalPoint());
        Spektro->AddMark(label, JumpMarkColour);
    }
}
