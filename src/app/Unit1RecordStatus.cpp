#include "Unit1.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QStorageInfo>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>

// While recording, the status bar says for how long, how many frames and how large the file
// is, once a second, and warns once when the disk fills up.

namespace {

// Characters of a name worth the words "Record to ".
constexpr int ShownNameChars = 12;
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
    const double bytes = double(Recording.Continuous().RecordCount()) * double(FrameRecordSize);
    return QStringLiteral("  %1  %2 %3  %4 MB")
        .arg(Elapsed(seconds))
        .arg(RecordFrames)
        .arg(RecordFrames == 1 ? QStringLiteral("frame") : QStringLiteral("frames"))
        .arg(LocalFormat("%0.1f", bytes / 1e6));
}

void TForm1::RecordStatusTick()
{
    if (!BtnRecord->isChecked() || !Recording.Continuous().IsOpen()) {
        RecordStatusTimer->stop();
        return;
    }
    // The numbers always show. A name too long for the panel gives way in its middle, and
    // where the words would leave it hardly any room a record sign stands for them; the hint
    // has it all.
    const QString name =
        QFileInfo(QString::fromStdString(Recording.Continuous().FileName())).fileName();
    const QString progress = RecordStatusText();
    const QLabel* panel = StatusPanels[FileStatusPanel];
    const QFontMetrics metrics(panel->font());
    const int width = std::max(panel->contentsRect().width(), panel->minimumWidth());
    QString prefix = QStringLiteral("Record to ");
    int room = width - metrics.horizontalAdvance(prefix + progress);
    if (room < metrics.horizontalAdvance(name) &&
        room < ShownNameChars * metrics.averageCharWidth()) {
        prefix = QString(QChar(0x25CF)) + QLatin1Char(' ');
        room = width - metrics.horizontalAdvance(prefix + progress);
    }
    const QString shown = metrics.elidedText(name, Qt::ElideMiddle, std::max(room, 0));
    SetStatusText(FileStatusPanel, prefix + shown + progress);
    if (AlarmRecordingText.isEmpty())
        StatusPanels[FileStatusPanel]->setToolTip(QStringLiteral("Record to ") + name + progress);

    const QString path = QString::fromStdString(Recording.Continuous().FileName());
    const int64_t free = FreeDiskBytes ? FreeDiskBytes(path) : -1;
    if (free >= 0 && free < LowDiskBytes && !DiskSpaceWarned) {
        DiskSpaceWarned = true;
        FPrompts.ShowWarning(
            QStringLiteral("The disk holding %1 has less than 1 GB left (%2 GB free).")
                .arg(name, LocalFormat("%0.2f", double(free) / 1e9)));
    }
}
