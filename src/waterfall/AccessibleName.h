#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QWidget;

// The accessible name of a widget that paints its own text: what screen readers and UI tests
// read. The text may change with every frame; the name follows at most every IntervalMs,
// the last text always arriving.
class TAccessibleName : public QObject
{
public:
    explicit TAccessibleName(QWidget* Owner, int IntervalMs = 250);

    void Set(const QString& Text);

private:
    void Apply();

    QWidget* FOwner;
    int FInterval;
    QString FPending;
    QElapsedTimer FLast;
    QTimer FTimer;
};
