#pragma once

#include "dxPlotDialog.h"

class QLineEdit;
class QPushButton;
class QSpinBox;

// View ranges, grid steps and label decimals of a plot. A number is applied when its edit is
// left (either ',' or '.' as separator); any other text shows the current value again.
class TFormAxis : public TPlotDialog
{
    Q_OBJECT

public:
    explicit TFormAxis(QWidget* parent = nullptr);

    // The 7-digit text an edit shows for a value, with the locale's decimal separator.
    static QString ValueText(double Value);

    QLineEdit* EXMin;
    QLineEdit* EXMax;
    QLineEdit* EXGap;
    QLineEdit* Edit2;
    QSpinBox* EXDecimals;
    QLineEdit* EYMin;
    QLineEdit* EYMax;
    QLineEdit* EYGap;
    QLineEdit* Edit1;
    QSpinBox* EYDecimals;
    QPushButton* OKButton;
    QPushButton* Cancel;

protected:
    void Load() override;
    void Restore() override;

private:
    enum EditId { eXMin, eXMax, eXGap, eYMin, eYMax, eYGap };
    void ApplyEdit(EditId Id);
    float CurrentValue(EditId Id) const;
    QLineEdit* Edit(EditId Id) const;

    struct Saved
    {
        float XNominalMin = 0, XNominalMax = 0, XGap = 0, XCurrentMin = 0, XCurrentMax = 0;
        float YMin = 0, YMax = 0, YGap = 0;
        int XDecimals = 0, YDecimals = 0;
    } m_saved;
};
