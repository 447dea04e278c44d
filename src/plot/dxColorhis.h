#pragma once

#include "dxColors.h"

#include <QImage>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QMimeData;

// A dragged colour travels under this MIME type, so the plot takes drops from colour grids only.
inline constexpr char ColorMimeType[] = "application/x-quillex-color";
// Drag payload carrying a plain colour value.
std::unique_ptr<QMimeData> ColorMimeData(TColor Color);
// The colour a drag carries; nothing for other data or a malformed payload.
std::optional<TColor> ColorFromMimeData(const QMimeData* Data);

// Grid of the 16 stock colours; a click selects a cell and at once drags its colour away.
class TColorGridHisto : public QWidget
{
    Q_OBJECT

public:
    enum TGridOrdering { go16x1, go8x2, go4x4, go2x8, go1x16 };
    Q_ENUM(TGridOrdering)

    static constexpr int CellCount = 16;
    // Entries 0..7 and 12..19 of the stock palette: the classic 16 colours.
    static constexpr std::array<TColor, CellCount> StockColors{
        clBlack, clMaroon, clGreen, clOlive,  clNavy, clPurple,  clTeal, clSilver,
        clGray,  clRed,    clLime,  clYellow, clBlue, clFuchsia, clAqua, clWhite};

    // clang-format off
    Q_PROPERTY(TGridOrdering GridOrdering READ GridOrdering WRITE setGridOrdering)
    Q_PROPERTY(int Selection READ Selection WRITE setSelection)
    Q_PROPERTY(TColor SelectColor READ SelectColor)
    Q_PROPERTY(int ForegroundIndex READ ForegroundIndex WRITE setForegroundIndex)
    Q_PROPERTY(int BackgroundIndex READ BackgroundIndex WRITE setBackgroundIndex)
    Q_PROPERTY(bool ForegroundEnabled READ ForegroundEnabled WRITE setForegroundEnabled)
    Q_PROPERTY(bool BackgroundEnabled READ BackgroundEnabled WRITE setBackgroundEnabled)
    Q_PROPERTY(bool ClickEnablesColor READ ClickEnablesColor WRITE setClickEnablesColor)
    Q_PROPERTY(bool Ctl3D READ Ctl3D WRITE setCtl3D)
    Q_PROPERTY(TColor Color READ Color WRITE setColor)
    // clang-format on

    explicit TColorGridHisto(QWidget* parent = nullptr);

    // Fired when a mark moves to another cell.
    std::function<void(QObject* Sender)> OnChange;
    // Runs the drag of a colour. Empty: a platform drag (QDrag::exec, which blocks until the
    // drop). Tests set it to see the drag start without the platform's drag loop.
    std::function<void(std::unique_ptr<QMimeData> Data)> DragStarter;

    TGridOrdering GridOrdering() const { return m_ordering; }
    void setGridOrdering(TGridOrdering Value);
    int Selection() const { return m_selection; }
    void setSelection(int Value);
    TColor SelectColor() const { return StockColors[m_selection]; }
    int ForegroundIndex() const { return m_foregroundIndex; }
    void setForegroundIndex(int Value);
    int BackgroundIndex() const { return m_backgroundIndex; }
    void setBackgroundIndex(int Value);
    bool ForegroundEnabled() const { return m_foregroundEnabled; }
    void setForegroundEnabled(bool Value);
    bool BackgroundEnabled() const { return m_backgroundEnabled; }
    void setBackgroundEnabled(bool Value);
    bool ClickEnablesColor() const { return m_clickEnablesColor; }
    void setClickEnablesColor(bool Value) { m_clickEnablesColor = Value; }
    bool Ctl3D() const { return m_ctl3D; }
    void setCtl3D(bool Value);
    TColor Color() const { return m_color; }
    void setColor(TColor Value);

    int Columns() const { return 16 >> m_ordering; }
    int Rows() const { return 1 << m_ordering; }
    int CellWidth() const { return width() / Columns(); }
    int CellHeight() const { return height() / Rows(); }
    // Cell under a client point; points outside count as the nearest edge.
    int SquareFromPos(int X, int Y) const;
    QRect CellRect(int Index) const;
    // Cell reached from `From` by a key (Qt key code); -1 when the key does not move.
    int NextCell(int From, int Key) const;

    const QImage& Surface() const { return m_surface; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void ShrinkToCells();
    void RedrawAll();
    void DrawCell(int Index, bool Focused);
    void DrawMarks();
    void MoveMark(int& Index, bool Enabled, int Value);
    void StartDrag();

    TGridOrdering m_ordering = go4x4;
    int m_selection = 0;
    int m_foregroundIndex = 0;
    int m_backgroundIndex = 0;
    bool m_foregroundEnabled = true;
    bool m_backgroundEnabled = true;
    bool m_clickEnablesColor = false;
    bool m_ctl3D = true;
    TColor m_color = clBtnFace;
    QImage m_surface;
};

using TGridOrdering = TColorGridHisto::TGridOrdering;
