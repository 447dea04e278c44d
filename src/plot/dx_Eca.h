#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;

// The value bar: a small tool window showing the data points under the hair crosses and, in
// calculate mode, their differences. It has no behaviour of its own; the plot writes its labels.
class TFormCalculateBar : public QWidget
{
    Q_OBJECT

public:
    explicit TFormCalculateBar(QWidget* parent = nullptr);

    // Enables (or greys) the labels of the second cross and of the differences.
    void SetCalculateLabelsEnabled(bool Enabled);
    // The stay-on-top style asked for. Either way the bar, a tool window of the plot's window,
    // stays above that window only.
    bool StaysOnTop() const;
    void SetStaysOnTop(bool OnTop);

    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    QGroupBox* GroupBox3;
    QLabel *Label1, *Label2, *Label3, *Label7, *Label8, *Label9;
    QLabel *Label13, *Label15, *Label16, *Label17, *Label18, *Label19, *Label22;
    QLabel *Series1, *X1, *Y1, *Series2, *X2, *Y2;
    QLabel *invdeltax, *deltax, *deltay;

private:
    bool FStaysOnTop = false;

private:
    // Grows the value labels, their boxes and the bar until every value text fits.
    void FitValueTexts(QWidget* Panel);
};
