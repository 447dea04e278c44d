#include "Unit1.h"

#include <QFileInfo>
#include <QLabel>
#include <QStorageInfo>
#include <QTimer>
#include <QToolButton>
#include <cmath>

// While recording, the status bar says for how long, how many frames and how large the file
// is, once a second, and warns once when the disk fills up.

namespace {

// Characters of the file name shown beside the progress.
constexpr qsizetype ShownNameLength = 32;
// Below this the disk holding the recording is about to be full (decimal units, as the sizes).
constexpr int64_t LowDiskBytes = 1000000000;

QString Elapsed(double Seconds)
{
    const auto whole = static_cast<int64_t>(std::floor(std::max(Seconds, 0.0)));
    return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                             static_cast<long long>(whole / 60 % 60),
                             static_cast<long long>(whole % 60));
}

} // namespace

int64_t DefaultFreeDiskBytes(const QString& Path)
{
    const QStorageInfo storage(QFileInfo(Path).absolutePath());
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

// Called when the recording's file is created; the counts start with its first frame.
void TForm1::StartRecordStatus()
{
    RecordStart = 0.0;
    RecordFrames = 0;
    DiskSpaceWarned = false;
    RecordStatusTimer->start();
}

QString TForm1::RecordStatusText() const
{
    const double seconds = RecordFrames > 0 ? FClock.Elapsed() - RecordStart : 0.0;
    const double bytes = double(SpkFile.Writer.RecordCount()) * double(FrameRecordSize);
    return QStringLiteral("  %1  %2 %3  %4 MB")
        .arg(Elapsed(seconds))
        .arg(RecordFrames)
        .arg(RecordFrames == 1 ? QStringLiteral("frame") : QStringLiteral("frames"))
        .arg(LocalFormat("%0.1f", bytes / 1e6));
}

void TForm1::RecordStatusTick()
{
    if (!BtnRecord->isChecked() || !SpkFile.Writer.IsOpen()) {
        RecordStatusTimer->stop();
        return;
    }
    // A long name gives way in its middle, so that the numbers stay in sight; the hint has it
    // whole.
    const QString name = QFileInfo(QString::fromStdString(SpkFile.Writer.FileName())).fileName();
    const QString shown = name.size() <= ShownNameLength
                              ? name
                              : name.left(ShownNameLength / 2) + QChar(0x2026) +
                                    name.right(ShownNameLength - ShownNameLength / 2 - 1);
    const QString progress = RecordStatusText();
    SetStatusText(FileStatusPanel, QStringLiteral("Record to ") + shown + progress);
    if (AlarmRecordingText.isEmpty())
        StatusPanels[FileStatusPanel]->setToolTip(QStringLiteral("Record to ") + name + progress);

    const QString path = QString::fromStdString(SpkFile.Writer.FileName());
    const int64_t free = FreeDiskBytes ? FreeDiskBytes(path) : -1;
    if (free >= 0 && free < LowDiskBytes && !DiskSpaceWarned) {
        DiskSpaceWarned = true;
        FPrompts.ShowWarning(
            QStringLiteral("The disk holding %1 has less than 1 GB left (%2 GB free).")
                .arg(name, LocalFormat("%0.2f", double(free) / 1e9)));
    }
}
