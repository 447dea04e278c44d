#pragma once

#include "SpektroNeuImage.h"
#include "SpektroNeuMapping.h"
#include "SpektroNeuRows.h"

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <vector>

class TSpektroArea;

// The scrolling spectrogram: every AddLine paints one row of colour-coded levels at the
// bottom and moves the earlier rows up. A left margin carries a time axis with time marks and
// a right margin is kept free, so the waterfall columns line up with the plot above it.
//
// Sizes and positions are logical pixels as everywhere in the window; the images hold the
// screen's device pixels, so rows, marks and texts are as sharp as the screen allows. A row is
// one logical pixel high on average (RowEdge says how many device rows each takes).
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
    // The time axis runs this many pixels left of the waterfall.
    static constexpr int AxisOffset = 10;

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
    // The same with a text of its own (a frame's index where its time is unknown).
    void AddTimeText(const QString& Text);
    // The time marks' texts on rows still kept, oldest first.
    QStringList TimeTexts() const;
    // Marks the next row that AddLine adds: a dashed line in Colour across the waterfall and
    // Label on Colour in the left margin, just above the line (above a time mark written for
    // the same row). Parts of Label separated by ", " go on lines of their own when the label
    // is wider than the margin. Several marks at one row stack their labels; a label that would
    // cover the previous mark's label is left out (the line is still drawn). Labels are never
    // confused with time marks: those are black text without a box.
    void AddMark(const QString& Label, const QColor& Colour);
    // A mark on a row still kept: Age 0 is the newest row.
    struct TMarkInfo
    {
        int Age = 0;
        QString Label;
        QColor Colour;
        bool LabelShown = false;
    };
    std::vector<TMarkInfo> Marks() const;
    // Erases the waterfall, the left margin and the marks.
    void Clear();
    // Gives the images the sizes of their areas; run on every resize and gap change. The
    // newest rows stay at the bottom and the margin's time marks stay beside their rows.
    void ResizeBuffers();
    // The device pixel ratio the images are drawn for (the screen's, followed on a change).
    double Ratio() const { return FRatio; }
    // Device rows of the row of the given age: top row and height, in the waterfall image.
    int RowTop(int Age) const;
    int RowDeviceHeight(int Age) const;

    // Mouse actions in the waterfall area, with that area as sender and in its coordinates.
    std::function<void(QObject*Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                       int Y)>
        OnMouseDown, OnMouseUp;
    std::function<void(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y)> OnMouseMove;
    std::function<void(QObject* Sender)> OnDblClick;

    // Read access for copying the display and for tests. The images are deep copies of
    // what is shown, in device pixels with the ratio set; their pixels are 0xffRRGGBB.
    QImage LeftImage() const { return WithRatio(Left.Visible()); }
    QImage WaveImage() const { return WithRatio(Wave.Visible()); }
    QImage RightImage() const { return WithRatio(Right.Visible()); }
    QWidget* LeftBox() const;
    QWidget* WaveBox() const;
    QWidget* RightBox() const;
    // Time marks use the plot's label font, narrow enough that "hh:nn:ss" ends before the tick.
    QFont TimeMarkFont() const { return FTimeMarkFont; }
    // The values' places on a frequency axis shared with the plot above: value index Origin
    // at the waterfall area's left edge, PerPixel indices per logical pixel. Each column then
    // shows the value nearest to it on that axis. PerPixel <= 0 (the default) spreads the
    // values from the first column to the last instead.
    void SetValueAxis(double Origin, double PerPixel);
    std::span<const std::int32_t> ColumnIndex() const { return FColumnIndex; }
    int MappedLo() const { return FMappedLo; }
    int MappedHi() const { return FMappedHi; }

protected:
    void resizeEvent(QResizeEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    bool event(QEvent* Event) override;

private:
    // What the left margin shows beside the rows, kept so that it can be drawn again at
    // another device pixel ratio: time marks (Colour invalid) and labels of marks.
    struct TMarginItem
    {
        bool IsMark = false;
        std::int64_t Row = 0; // time mark: the newest row when it was written; mark: its row
        QString Text;
        QColor Colour;
        bool Shown = true; // the text or label is drawn
    };

    QImage WithRatio(QImage Image) const;
    int Device(int Logical) const;
    void LayoutBoxes();
    void ScrollLeftMargin(int Rows);
    void PaintWaveRow(std::span<const float> Levels, int Rows);
    void ResizeImages(bool Relayout);
    void MapValueColumns();
    void RescaleWaveRows(int Width, int Height, bool Relayout);
    bool TakeScreenRatio();
    void UpdateArea(QWidget* Box, bool Scrolled);
    int RowsKept() const;
    std::int64_t RowBottom(std::int64_t Row) const;
    void DrawTimeMark(std::size_t Index);
    QRect TimeTextBox(const TMarginItem& Item) const;
    bool NearbyLabelMeets(std::size_t Index, const QRect& Box) const;
    bool DrawMarkLabel(std::size_t Index);
    void DrawMarkLine(std::uint32_t* Row, int Width, const QColor& Colour, int Turn) const;
    void DrawPendingMarks();
    void DrawAxis(int First);
    void RedrawMargin();
    void ForgetOldMarginItems();
    QStringList LabelLines(const QString& Label) const;
    QRect LabelBox(std::size_t Index, const QStringList& Lines) const;

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
    double FAxisOrigin = 0.0;
    double FAxisPerPixel = 0.0;
    double FRatio = 1.0;
    // Rows painted so far: the next row's number in the endless strip RowEdge measures.
    std::int64_t FRows = 0;
    // The first row after the last Clear, and how many rows the images can show.
    std::int64_t FFirstRow = 0;
    int FRowsKept = 0;
    // Time marks and mark labels beside rows still kept, oldest first.
    std::deque<TMarginItem> FMarginItems;
    // Marks waiting for the next row.
    std::vector<TMarginItem> FPendingMarks;
    // Something was drawn into the margin since the last row: its area must be repainted.
    bool FMarginDrawn = false;
};
