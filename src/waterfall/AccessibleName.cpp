#include "AccessibleName.h"

#include <QWidget>

TAccessibleName::TAccessibleName(QWidget* Owner, int IntervalMs)
    : QObject(Owner), FOwner(Owner), FInterval(IntervalMs)
{
    FTimer.setSingleShot(true);
    connect(&FTimer, &QTimer::timeout, this, &TAccessibleName::Apply);
}

void TAccessibleName::Set(const QString& Text)
{
    FPending = Text;
    if (FTimer.isActive())
        return;
    const qint64 since = FLast.isValid() ? FLast.elapsed() : FInterval;
    if (since >= FInterval)
        Apply();
    else
        FTimer.start(int(FInterval - since));
}

void TAccessibleName::Apply()
{
    FTimer.stop();
    FLast.restart();
    if (FOwner->accessibleName() != FPending)
        FOwner->setAccessibleName(FPending);
}
