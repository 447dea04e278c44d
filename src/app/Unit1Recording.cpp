#include "Unit1.h"

#include <QTimer>
#include <QToolButton>

// Recording to and playing back from spectral data files is not available in this
// version. The buttons and the places in the loop exist so that the window's state
// stays consistent: Record and Playback spring back up, and no file is ever open.

void TForm1::BtnRecordClick()
{
    const bool timerWasRunning = Timer1->isActive();
    Timer1->stop();
    if (BtnRecord->isChecked())
        BtnRecord->setChecked(false);
    SetStatusText(3, QString());
    if (!BtnRecord->isChecked())
        SetStatusText(4, QString());
    BtnPlayback->setEnabled(!BtnRecord->isChecked() && !BtnStartStop->isChecked());
    if (timerWasRunning)
        Timer1->start();
}

void TForm1::BtnPlaybackClick()
{
    BtnPlayback->setChecked(false);
    PlaybackMode = false;
}

void TForm1::BtnLoadFileClick()
{
    BtnStartStop->setEnabled(!PlaybackFileName.isEmpty());
}

void TForm1::PBMouseUp(int /*X*/) {}

void TForm1::WriteRecordingHeader() {}

void TForm1::WriteFrameRecord() {}

void TForm1::ReadPlaybackFrame() {}

void TForm1::CloseSpkFile() {}

void TForm1::RunPlayback()
{
    Timer1->stop();
}
