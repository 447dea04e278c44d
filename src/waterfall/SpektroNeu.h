#pragma once

#include "SpektroNeuImage.h"
#include "SpektroNeuMapping.h"
#include "SpektroNeuRows.h"

#include <QFont>
#include <QFrame>
#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

class TSpektroArea;

// The scrolling spectrogram: every AddLine paints one row of colour-coded levels at the
// bottom and moves the earlier rows up. A left margin carries a time axis with time marks and
// a right margin is kept free, so the waterfall columns line up with the plot above it.
class TSpektroNeu : public QFrame
{
    Q_OBJECT
    Q_PROPERTY(int XMin READ XMin WRITE setXMin)
    Q_PROPERTY(int XMax READ XMax WRITE setXMax)
    Q_PROPERTY(float ZMin READ ZMin WRITE setZMin)
    Q_PROPERTY(float ZMax READ ZMax WRITE setZMax)
    Q_PROPERTY(int GapLeft READ GapLeft WRITE setGapLeft)
    Q_PROPERTY(int GapRight READ GapRight WRITE setGapRight)
    Q_PROPERTY(bool NoFlicker READ NoFlicker WRITE setNoFlicker)
    Q_PROPERTY(int HighlightMin READ HighlightMin WRITE setHighlightMin)
    Q_PROPERTY(int HighlightMax READ HighlightMax WRITE setHighlightMax)

public:
    explicit TSpektroNeu(QWidget* Owner = nullptr);
    ~TSpektroNeu() override;

    int XMin() const { return FXMin; }
    void setXMin(int Value) { FXMin = Value; }
    int XMax() const { return FXMax; }
    void setXMax(int Value) { FXMax = Value; }
    // A new level scale applies to rows added afterwards; nothing already drawn changes.
    // While ZMax is not above ZMin every level shows as black.
    float ZMin() const { return FZMin; }
    void setZMin(float Value);
    float ZMax() const { return FZMax; }
    void setZMax(float Value);
    // Widths of the margins in pixels; negative widths are ignored.
    int GapLeft() const { return FGapLeft; }
    void setGapLeft(int Value);
    int GapRight() const { return FGapRight; }
    void setGapRight(int Value);
    // On: the areas are copied to the screen without erasing first, and new rows scroll the
    // shown ones instead of repainting the whole waterfall.
    bool NoFlicker() const { return FNoFlicker; }
    void setNoFlicker(bool Value);
    // Inclusive range of waterfall columns drawn highlighted (colour bytes XOR 37).
    int HighlightMin() const { return FHighlightMin; }
    void setHighlightMin(int Value) { FHighlightMin = Value; }
    int HighlightMax() const { return FHighlightMax; }
    void setHighlightMax(int Value) { FHighlightMax = Value; }

    // Appends one row; an empty array paints nothing.
    void AddLine(std::span<const float> Levels);
    // Writes Time (days since 1899-12-30, local) formatted by Format at the bottom of the left
    // margin; it shows with the next AddLine and then scrolls up with the rows.
    void AddTimeMark(const QString& Format, double Time);
    // Erases the waterfall and the left margin.
    void Clear();
    // Gives the images the sizes of their areas; run on every resize and gap change. The
    // newest rows stay at the bottom and the margin's time marks stay beside their rows.
    void ResizeBuffers();

    // Mouse actions in the waterfall area, with that area as sender and in its coordinates.
    std::function<void(QObject*Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                       int Y)>
        OnMouseDown, OnMouseUp;
    std::function<void(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y)> OnMouseMove;
    std::function<void(QObject* Sender)> OnDblClick;

    // Read access for copying the display and for tests. The images are deep copies of
    // what is shown; their pixels are 0xffRRGGBB.
    QImage LeftImage() const { return Left.Visible(); }
    QImage WaveImage() const { return Wave.Visible(); }
    QImage RightImage() const { return Right.Visible(); }
    QWidget* LeftBox() const;
    QWidget* WaveBox() const;
    QWidget* RightBox() const;
    // Time marks use the plot's label font, narrow enough that "hh:nn:ss" ends before the tick.
    QFont TimeMarkFont() const { return FTimeMarkFont; }
    std::span<const std::int32_t> ColumnIndex() const { return FColumnIndex; }
    int MappedLo() const { return FMappedLo; }
    int MappedHi() const { return FMappedHi; }

protected:
    void resizeEvent(QResizeEvent* Event) override;

private:
    void LayoutBoxes();
    void ScrollLeftMargin();
    void PaintWaveRow(std::span<const float> Levels);
    void RescaleWaveRows(int Width, int Height);

    int FXMin = 0;
    int FXMax = 0;
    float FZMin = 0.0f;
    float FZMax = 0.0f;
    int FGapLeft = 0;
    int FGapRight = 0;
    bool FNoFlicker = false;
    int FHighlightMin = 0;
    int FHighlightMax = 0;

    TSpektroArea* FLeftBox = nullptr;
    TSpektroArea* FWaveBox = nullptr;
    TSpektroArea* FRightBox = nullptr;
    TSpektroImage Left;
    TSpektroImage Wave;
    TSpektroImage Right;
    TSpektroRows WaveRows;
    quillex::TLevelToColor Colors;
    QFont FTimeMarkFont;
    std::vector<std::int32_t> FColumnIndex;
    int FMappedLo = 0;
    int FMappedHi = 0;
};
