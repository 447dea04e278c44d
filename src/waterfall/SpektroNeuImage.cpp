#include "SpektroNeuImage.h"

#include <algorithm>
#include <cstring>

TSpektroImage::TSpektroImage(QRgb Background) : Bg(Background) {}

void TSpektroImage::Resize(int Width, int Height, bool Keep, bool Blank)
{
    Width = std::max(Width, 0);
    Height = std::max(Height, 0);
    if (Width == W && Height == H)
        return;
    QImage next;
    if (Width > 0 && Height > 0) {
        next = QImage(Width, 2 * Height, QImage::Format_RGB32);
        const bool keep = Keep && !Empty();
        const int keepW = keep ? std::min(W, Width) : 0;
        const int keepH = keep ? std::min(H, Height) : 0;
        // Each row once: background where nothing is kept, then the kept pixels.
        for (int row = 0; row < Height && (keep || Blank); ++row) {
            const bool kept = row >= Height - keepH;
            const int fill = kept ? Width - keepW : Width;
            for (int half : {row, row + Height}) {
                auto* to = reinterpret_cast<std::uint32_t*>(next.scanLine(half));
                std::fill_n(to, fill, Bg);
                if (kept)
                    std::memcpy(to + fill, Row(H - Height + row) + (W - keepW),
                                std::size_t(keepW) * 4);
            }
        }
    }
    Buffer = std::move(next);
    W = Width;
    H = Height;
    Head = 0;
}

void TSpektroImage::FillRows(int First, int Count)
{
    if (Empty())
        return;
    for (int y = std::max(First, 0); y < std::min(First + Count, H); ++y)
        std::fill_n(Row(y), W, Bg);
    CommitRows(First, Count);
}

void TSpektroImage::Fill(QRgb Colour)
{
    if (!Buffer.isNull())
        Buffer.fill(Colour);
}

void TSpektroImage::ScrollUp(int Rows, bool Carry)
{
    Rows = std::min(Rows, H);
    if (Empty() || Rows <= 0)
        return;
    const std::uint32_t* oldBottom = Row(H - 1);
    Head = (Head + Rows) % H;
    if (!Carry)
        return;
    // The slots that become the bottom rows held the discarded top rows; the old bottom row
    // is not among them unless every row is replaced, and then it is the last of them.
    for (int y = H - Rows; y < H; ++y)
        if (Row(y) != oldBottom)
            std::memcpy(Row(y), oldBottom, std::size_t(W) * 4);
    CommitRows(H - Rows, Rows);
}

void TSpektroImage::CommitRows(int First, int Count)
{
    if (Empty())
        return;
    for (int y = std::max(First, 0); y < std::min(First + Count, H); ++y) {
        const int phys = Head + y;
        const int twin = phys >= H ? phys - H : phys + H;
        std::memcpy(Buffer.scanLine(twin), Buffer.constScanLine(phys), std::size_t(W) * 4);
    }
}

QImage TSpektroImage::PaintView()
{
    if (Empty())
        return QImage();
    return QImage(Buffer.scanLine(Head), W, H, Buffer.bytesPerLine(), QImage::Format_RGB32);
}

QImage TSpektroImage::Visible() const
{
    return Empty() ? QImage() : Buffer.copy(Window());
}
