#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

// A captioned group of radio buttons with one selected item index (-1 = none).
// Click is emitted whenever the index changes, by the user or by code, because the
// window's handlers must also run when settings are loaded.
class TRadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    TRadioGroup(const QString& Caption, const QStringList& Items, int Columns,
                QWidget* Parent = nullptr);

    int ItemIndex() const { return FItemIndex; }
    // Limited to -1 .. item count - 1.
    void setItemIndex(int Index);
    QString ItemText(int Index) const;
    int ItemCount() const { return static_cast<int>(FButtons.size()); }
    QRadioButton* Button(int Index) const { return FButtons.value(Index); }

signals:
    void Click();

private:
    QButtonGroup* FGroup;
    QList<QRadioButton*> FButtons;
    int FItemIndex = -1;
};
