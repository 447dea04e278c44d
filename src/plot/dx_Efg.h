#pragma once

#include "dxPlotDialog.h"

#include <QComboBox>

class QCheckBox;
class QPushButton;

// Drop-down list of the seven pen styles, each item drawn as a line in its style.
class TLineStyleBox : public QComboBox
{
    Q_OBJECT

public:
    static constexpr int ItemHeight = 16;

    explicit TLineStyleBox(QWidget* parent = nullptr);

    // One item: white with a black outline and a line in the style `Style` across the middle.
    static void DrawItem(QPainter& Painter, const QRect& Rect, int Style);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Grid visibility, axis scaling and grid line style of a plot, previewed live.
class TFormGrid : public TPlotDialog
{
    Q_OBJECT

public:
    explicit TFormGrid(QWidget* parent = nullptr);

    QCheckBox* CBGridVisible;
    QComboBox* CBScale;
    TLineStyleBox* CBLineStyle;
    QPushButton* OKButton;
    QPushButton* CancelButton;

protected:
    void Load() override;
    void Restore() override;

private:
    TPenStyle m_savedLineStyle = psSolid;
    TDXGrdVisible m_savedVisible = grdNone;
    TDXGrdScale m_savedScale = sclLinLin;
};
