#include "Unit1.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QSaveFile>
#include <QScrollBar>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "FrameProcessor.h"
#include "SpektroNeu.h"
#include "Unit1Limits.h"
#include "Unit1Markers.h"
#include "Unit1Panel.h"
#include "dxHisto.h"

QString LocalFormat(const char* Format, double Value)
{
    QString text = QString::asprintf(Format, Value);
    const QString point = QLocale().decimalPoint();
    if (point != QLatin1String("."))
        text.replace(QLatin1Char('.'), point);
    return text;
}

void TForm1::SetStatusText(int Panel, const QString& Text)
{
    if (Panel == FileStatusPanel) {
        FileStatusText = Text;
        if (!AlarmRecordingText.isEmpty())
            return;
    }
    QLabel* label = StatusPanels.at(static_cast<std::size_t>(Panel));
    if (label->text() == Text)
        return;
    label->setText(Text);
    // The panels are sized beforehand for every text they show (SizeFrequencyPanel for the
    // offsets), since a panel that widens widens a window at its least width. Only a font
    // other than the one they were sized in widens one here. A file name may be long: its
    // panel keeps the designed width as the least and shows the whole name as a hint.
    if (Panel == FileStatusPanel) {
        label->setToolTip(Text);
        return;
    }
    const int needed = label->sizeHint().width();
    if (label->minimumWidth() < needed)
        label->setMinimumWidth(needed);
}

void TForm1::ShowAlarmRecording(const QString& Text, const QString& Hint)
{
    if (Text == AlarmRecordingText)
        return;
    AlarmRecordingText = Text;
    QLabel* label = StatusPanels[FileStatusPanel];
    label->setText(Text.isEmpty() ? FileStatusText : Text);
    label->setToolTip(Text.isEmpty() ? FileStatusText : Hint);
}

QString TForm1::StatusText(int Panel) const
{
    return StatusPanels.at(static_cast<std::size_t>(Panel))->text();
}

void TForm1::SBMinChange()
{
    Spektro->setZMin(static_cast<float>(-SBMin->value()));
    SBRangeChange();
    SBMin->setToolTip(LocalFormat("Min: %0.0fdBm", double(Spektro->ZMin()) + LevelOffset));
}

void TForm1::SBRangeChange()
{
    Spektro->setZMax(Spektro->ZMin() - static_cast<float>(SBRange->value()) + 40.0f);
    SBRange->setToolTip(LocalFormat("Range: %0.0fdBm", double(Spektro->ZMin()) + LevelOffset) +
                        LocalFormat(" %0.0fdBm", double(Spektro->ZMax()) + LevelOffset));
    UpdateLegend();
}

void TForm1::HistoYAxis(double Value, QString& Output)
{
    const double level = Value + LevelOffset;
    // The label at the top of the scale names the unit.
    if (std::fabs(Value - double(Histo->ViewYMax())) <= 0.1) {
        Output = LocalFormat("[dBm] %2.0f", level);
        return;
    }
    // Whole levels as they always were; a zoomed axis puts labels between whole dB, which
    // no decimals would show twice ("-32 -32 -33"), so those get the digits they need.
    const double centi = std::nearbyint(level * 100.0);
    const char* format = std::fmod(centi, 100.0) == 0.0  ? "%3.0f"
                         : std::fmod(centi, 10.0) == 0.0 ? "%0.1f"
                                                         : "%0.2f";
    Output = LocalFormat(format, level);
}

void TForm1::HistoXAxis(double Value, QString& Output)
{
    // As many decimals as the frequency offset needs, at most three; and as many as the
    // label itself needs, since a zoomed (or wide) plot puts labels between tenths of a
    // MHz, which one decimal would show twice ("9.8 9.8 9.9").
    const double offset = FreqOffset;
    const double mhz = (offset * 1000.0 + Value) / 1000.0;
    const auto decimalsFor = [](double MHz) {
        const double kHz = std::nearbyint(MHz * 1000.0);
        return std::fmod(kHz, 100.0) == 0.0 ? 1 : std::fmod(kHz, 10.0) == 0.0 ? 2 : 3;
    };
    int decimals = 3;
    if (quillex::RoundHalfEven(offset * 10.0) % 10 == 0)
        decimals = 1;
    else if (quillex::RoundHalfEven(offset * 100.0) % 10 == 0)
        decimals = 2;
    decimals = std::max(decimals, decimalsFor(mhz));
    const char* const formats[] = {"%0.1f", "%0.2f", "%0.3f"};
    Output = LocalFormat(formats[decimals - 1], mhz);
}

void TForm1::HistoCrossMove(QObject* /*Sender*/, float X, float /*Y*/, int /*Serie*/, int /*Index*/)
{
    SetStatusText(1, LocalFormat("Cursor: %0.3f MHz", (double(FreqOffset) * 1000.0 + X) / 1000.0));
}

void TForm1::PnlHistoControlResize()
{
    const int barLeft = 14;
    const int barWidth = 17;
    LblRange->move(LblRange->x(), 5);
    LblMin->move(LblMin->x(), PnlRangeMin->height() * 50 / 100 + 2);
    const int rangeHeight = LblMin->y() - LblRange->y() - 2 * LblMin->height() + 4;
    SBRange->setGeometry(barLeft, LblRange->y() + LblRange->height() + 4, barWidth,
                         std::max(0, rangeHeight));
    SBMin->setGeometry(barLeft, LblMin->y() + LblMin->height() + 4, barWidth,
                       std::max(0, rangeHeight));
}

void TForm1::BtnClearDisplayClick()
{
    Histo->SetSeriesData(ClearedSpectrum.data(), FftSize(), 1);
    Spektro->Clear();
    // The rows before are gone: the next row jumps from nothing.
    RowJumps.Reset();
}

void TForm1::BtnCopy2ClpBrdClick()
{
    const QImage picture = DisplayPicture();
    if (!picture.isNull())
        QGuiApplication::clipboard()->setImage(picture);
}

void TForm1::SaveDisplayClick()
{
    // The picture is taken first: what the user saw when asking, without the dialog.
    const QImage image = DisplayPicture();
    const QString name = FPrompts.SaveFileName(StartDir, QStringLiteral("png"),
                                               QStringLiteral("PNG Image|*.png|All Files|*.*"));
    if (name.isEmpty() || image.isNull())
        return;
    // Written under a temporary name and renamed, so a failure leaves no broken file.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit())
        FPrompts.ShowError(
            QStringLiteral("Cannot save the display to %1: %2").arg(name, file.errorString()));
}

void TForm1::BtnGridClick()
{
    Histo->setGridVisible(BtnGrid->isChecked() ? TDXHistographInt::grdBoth
                                               : TDXHistographInt::grdNone);
}

void TForm1::HistoGridVisibleChange()
{
    // The button shows whether a grid is drawn, whatever set it; a partial grid counts.
    BtnGrid->setChecked(Histo->GridVisible() != TDXHistographInt::grdNone);
}

void TForm1::PnlAboutClick()
{
    FPrompts.ShowInformation(QString::fromLatin1(Title), AboutText());
}

QString TForm1::AboutText() const
{
    return QStringLiteral("%1\n\nA wideband spectrum analyzer for the 0 .. 40 MHz receiver.\n\n"
                          "%2\n\n%3\n\n%4\n\n"
                          "This program comes without any warranty. Use it at your own risk; "
                          "the authors are not liable for any damage it may cause.\n\n"
                          "Thanks to everyone who tested it and reported faults.")
        .arg(QLatin1String(Title), PlotToolsHint(),
             Measure->KeysHint() + QStringLiteral("\n\n") + Panel->KeysHint(), Limits->KeysHint());
}
