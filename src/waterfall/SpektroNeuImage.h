#pragma once

#include <QImage>
#include <QRect>
#include <QRgb>
#include <cstdint>

// A 32-bit image (bytes blue, green, red, 0xff) whose rows scroll up without moving pixels. Its
// sizes are device pixels; the control decides how many of them a logical pixel takes.
// Rows live twice in a buffer of double height, so the visible rows are always one
// contiguous window of the buffer: scrolling moves the window and writes one row twice.
class TSpektroImage
{
public:
    explicit TSpektroImage(QRgb Background);

    int Width() const { return W; }
    // True while either side is 0: there are no pixels to touch.
    bool Empty() const { return Buffer.isNull(); }
    int Height() const { return H; }
    QRgb Background() const { return Bg; }
    void SetBackground(QRgb Background) { Bg = Background; }

    // Keeps the old content anchored at the bottom-right corner, where the newest rows and
    // the margin's time axis are; new area gets the background. Without Keep the whole image
    // starts as background, or, when the caller paints every row itself (Blank false), with
    // pixels left undefined.
    void Resize(int Width, int Height, bool Keep = true, bool Blank = true);
    // Fills rows First .. First + Count - 1 with the background and commits them.
    void FillRows(int First, int Count);
    void Fill(QRgb Colour);

    // Moves all rows up by Rows (at most the height). With Carry the new bottom rows start as
    // copies of the previous bottom row and are committed; without, they hold stale pixels that
    // the caller overwrites and commits.
    void ScrollUp(int Rows = 1, bool Carry = true);
    std::uint32_t* Row(int Y)
    {
        return reinterpret_cast<std::uint32_t*>(Buffer.scanLine(Head + Y));
    }
    const std::uint32_t* Row(int Y) const
    {
        return reinterpret_cast<const std::uint32_t*>(Buffer.constScanLine(Head + Y));
    }
    // Must follow every write into rows First .. First + Count - 1.
    void CommitRows(int First, int Count);

    // For painting: the visible rows are Window() of Storage().
    const QImage& Storage() const { return Buffer; }
    QRect Window() const { return QRect(0, Head, W, H); }
    // An image that draws straight into the visible rows (commit them afterwards).
    QImage PaintView();
    // A deep copy of the visible rows.
    QImage Visible() const;

private:
    QImage Buffer;
    QRgb Bg;
    int W = 0;
    int H = 0;
    int Head = 0;
};
