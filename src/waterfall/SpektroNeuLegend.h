#pragma once

#include "AccessibleName.h"
#include "SpektroNeuMapping.h"
#include "SpektroNeuScale.h"

#include <QFont>
#include <QImage>
#include <QWidget>
#include <vector>

// The waterfall's colour scale: a bar with the palette from ZMin (bottom) to ZMax (top) as the
// waterfall colours levels, a caption "dBm" above it and labels beside it that add the level
// offset, as the level bars' hints do. Drawn at the screen's device pixels. The bar takes the
// widget's height below the caption, so placing the widget with the bar beside the waterfall
// lines the colours up with the rows.
class TSpektroLegend : public QWidget
{
public:
    static constexpr int BarWidth = 10;
    static constexpr int TickLength = 3;

    explicit TSpektroLegend(QWidget* Parent = nullptr);

    // Redraws when any of them changed.
    void SetScale(float ZMin, float ZMax, float Offset);
    float ZMin() const { return FZMin; }
    float ZMax() const { return FZMax; }
    float Offset() const { return FOffset; }

    // The caption's height: the bar starts this far below the top.
    int CaptionHeight() const;
    // The width the labels need so far; it only grows, so the panel does not jump while a bar
    // is dragged.
    int NeededWidth() const { return FNeededWidth; }
    QFont LabelFont() const { return FFont; }
    // The labels as drawn: their numbers' texts and the device rows of their ticks in Picture().
    const std::vector<quillex::TLegendTick>& Ticks() const { return FTicks; }
    static QString LabelText(double Shown);
    // What is shown, in device pixels with the ratio set.
    QImage Picture() const { return FPicture; }

protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    bool event(QEvent* Event) override;

private:
    void Redraw();
    void GrowFor(const QString& Text);

    float FZMin = -120.0f;
    float FZMax = -80.0f;
    float FOffset = 0.0f;
    QFont FFont;
    int FNeededWidth = 0;
    quillex::TLevelToColor Colors;
    std::vector<quillex::TLegendTick> FTicks;
    QImage FPicture;
    TAccessibleName FName{this};
};
