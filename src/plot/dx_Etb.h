#pragma once

#include <QWidget>

class QButtonGroup;
class QTimer;
class QToolButton;
class TColorGridHisto;
class TDXHistographInt;
class TFormAxis;
class TFormGrid;
class TFormTitle;

// The plot's floating tool bar: interaction mode, hair cross, auto scaling, value bar, a
// one-shot scale, the three property dialogs and the colour grid to drag colours from. Once a
// second (also while hidden) its buttons take over the plot's state.
class TFormToolBar : public QWidget
{
    Q_OBJECT

public:
    explicit TFormToolBar(QWidget* parent = nullptr);

    // The plot served; also handed to the dialogs.
    void SetHisto(TDXHistographInt* Histo);
    // Presses the buttons that match the plot's state, without running their click actions.
    void Timer1Timer();

    QToolButton* BShowCross;
    QToolButton* BModeZoom;
    QToolButton* BModeLowerRef;
    QToolButton* BModeMeasure;
    QToolButton* BModeCalculate;
    QToolButton* BModeUpperRef;
    QToolButton* BAutoScale;
    QToolButton* BCapture;
    QToolButton* BValueBar;
    QToolButton* BTitle;
    QToolButton* BGrid;
    QToolButton* BView;
    TColorGridHisto* ColorGridHisto1;
    QButtonGroup* ModeGroup;
    QTimer* Timer1;
    TFormTitle* FormTitle;
    TFormGrid* FormGrid;
    TFormAxis* FormAxis;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    TDXHistographInt* m_histo = nullptr;
};
