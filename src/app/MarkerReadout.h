#pragma once

#include <QStringList>
#include <QWidget>

#include "AccessibleName.h"

// The markers' read-out: one line of texts side by side. The texts change with every frame,
// so a new text only repaints the line; the layout is asked again only when the line needs
// more room than before (it widens, never narrows, so it does not jitter with the digits).
class TMarkerReadout : public QWidget
{
public:
    explicit TMarkerReadout(QWidget* Parent = nullptr);

    void SetTexts(const QStringList& Texts);
    const QStringList& Texts() const { return FTexts; }
    // The texts with the gap between them as spaces.
    QString Text() const;
    // Where each text starts, in pixels from the left.
    int TextLeft(int Index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void changeEvent(QEvent* Event) override;

private:
    int Gap() const;
    int Needed() const;

    QStringList FTexts;
    int FWidth = 0; // the most the texts have needed
    TAccessibleName FName{this};
};
