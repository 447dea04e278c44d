#pragma once

#include "dxColors.h"
#include "dxColumnSpans.h"
#include "dxCrossMath.h"
#include "dxDeviceScale.h"
#include "dxSeriesPoints.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPainter;
class QTimer;
class TDXCanvas;
class TFormCalculateBar;
class TFormToolBar;

// Spectrum plot control: up to 16 curves in a framed plot area with titles, axes and grid.
// Everything is drawn into a persistent RGB32 surface at the screen's device pixel ratio (layout
// and hit tests stay in logical pixels); paintEvent only copies it to the screen.
class TDXHistographInt : public QWidget
{
    Q_OBJECT

public:
    enum TDXDataKind { dtData, dtDataXY, dtUpperRef, dtLowerRef };
    Q_ENUM(TDXDataKind)
    enum TDXMode { modeMeasure, modeLowerRef, modeUpperRef, modeZoom, modeCalculate };
    Q_ENUM(TDXMode)
    enum TDXGrdVisible { grdNone, grdHor, grdVer, grdBoth };
    Q_ENUM(TDXGrdVisible)
    enum TDXGrdScale { sclLinLin, sclLinLog, sclLogLin, sclLogLog };
    Q_ENUM(TDXGrdScale)
    enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
    Q_ENUM(TPenStyle)
    enum TBorderStyle { bsNone, bsSingle };
    Q_ENUM(TBorderStyle)
    // The six font objects, for their colours (QFont carries none).
    enum TDXFontId { fiTitleTop, fiXAxis, fiYAxis, fiTitleBottom, fiTitleLeft, fiTitleRight };
    Q_ENUM(TDXFontId)

    struct TDXSeries
    {
        TDXDataKind Kind = dtData;
        TPenStyle PenStyle = psSolid;
        TColor LineColor = clBlack;
        float* Data = nullptr;
        int Count = 0;
        bool Owned = false;
        // Data holds Count (X, Y) pairs; only such data is drawn as dtDataXY, so switching a
        // series' kind never reads past the caller's array.
        bool Pairs = false;
    };

    static constexpr int MaxSeries = 16;
    static constexpr int MaxPointBuffer = 16384;
    static constexpr int MaxReferenceCount = 200000000;
    static constexpr int TitleMargin = 10;
    static constexpr int XLabelOffset = 5;

    // clang-format off
    Q_PROPERTY(QString Version READ Version WRITE setVersion)
    Q_PROPERTY(QString Copyright READ Copyright WRITE setCopyright)
    Q_PROPERTY(bool EnableUpdate READ EnableUpdate WRITE setEnableUpdate)
    Q_PROPERTY(bool ShowToolBar READ ShowToolBar WRITE setShowToolBar)
    Q_PROPERTY(bool ShowValueBar READ ShowValueBar WRITE setShowValueBar)
    Q_PROPERTY(TColor GridColor READ GridColor WRITE setGridColor)
    Q_PROPERTY(TColor BkColor READ BkColor WRITE setBkColor)
    Q_PROPERTY(TDXGrdVisible GridVisible READ GridVisible WRITE setGridVisible)
    Q_PROPERTY(TDXGrdScale GridScale READ GridScale WRITE setGridScale)
    Q_PROPERTY(TPenStyle GridLineStyle READ GridLineStyle WRITE setGridLineStyle)
    Q_PROPERTY(TBorderStyle BorderStyle READ BorderStyle WRITE setBorderStyle)
    Q_PROPERTY(int GapRight READ GapRight WRITE setGapRight)
    Q_PROPERTY(int GapLeft READ GapLeft WRITE setGapLeft)
    Q_PROPERTY(int GapTop READ GapTop WRITE setGapTop)
    Q_PROPERTY(int GapBottom READ GapBottom WRITE setGapBottom)
    Q_PROPERTY(QString TitleRight READ TitleRight WRITE setTitleRight)
    Q_PROPERTY(QString TitleLeft READ TitleLeft WRITE setTitleLeft)
    Q_PROPERTY(QString TitleTop READ TitleTop WRITE setTitleTop)
    Q_PROPERTY(QString TitleBottom READ TitleBottom WRITE setTitleBottom)
    Q_PROPERTY(QFont FontTitleTop READ FontTitleTop WRITE setFontTitleTop)
    Q_PROPERTY(QFont FontXAxis READ FontXAxis WRITE setFontXAxis)
    Q_PROPERTY(QFont FontYAxis READ FontYAxis WRITE setFontYAxis)
    Q_PROPERTY(QFont FontTitleBottom READ FontTitleBottom WRITE setFontTitleBottom)
    Q_PROPERTY(QFont FontTitleLeft READ FontTitleLeft WRITE setFontTitleLeft)
    Q_PROPERTY(QFont FontTitleRight READ FontTitleRight WRITE setFontTitleRight)
    Q_PROPERTY(float ViewYMin READ ViewYMin WRITE setViewYMin)
    Q_PROPERTY(float ViewYMax READ ViewYMax WRITE setViewYMax)
    Q_PROPERTY(float ViewYGap READ ViewYGap WRITE setViewYGap)
    Q_PROPERTY(float ViewYGridOrigin READ ViewYGridOrigin WRITE setViewYGridOrigin)
    Q_PROPERTY(int ViewYDecimals READ ViewYDecimals WRITE setViewYDecimals)
    Q_PROPERTY(float ViewXNominalMin READ ViewXNominalMin WRITE setViewXNominalMin)
    Q_PROPERTY(float ViewXNominalMax READ ViewXNominalMax WRITE setViewXNominalMax)
    Q_PROPERTY(float ViewXCurrentMin READ ViewXCurrentMin WRITE setViewXCurrentMin)
    Q_PROPERTY(float ViewXCurrentMax READ ViewXCurrentMax WRITE setViewXCurrentMax)
    Q_PROPERTY(float ViewXGap READ ViewXGap WRITE setViewXGap)
    Q_PROPERTY(int ViewXDecimals READ ViewXDecimals WRITE setViewXDecimals)
    Q_PROPERTY(int SeriesNumber READ SeriesNumber WRITE setSeriesNumber)
    Q_PROPERTY(int SeriesCurrent READ SeriesCurrent WRITE setSeriesCurrent)
    Q_PROPERTY(TColor SeriesColor READ SeriesColor WRITE setSeriesColor)
    Q_PROPERTY(TPenStyle SeriesLineStyle READ SeriesLineStyle WRITE setSeriesLineStyle)
    Q_PROPERTY(TDXDataKind SeriesStyle READ SeriesStyle WRITE setSeriesStyle)
    Q_PROPERTY(TDXMode Mode READ Mode WRITE setMode)
    Q_PROPERTY(int ReferenceRubberWidth READ ReferenceRubberWidth WRITE setReferenceRubberWidth)
    Q_PROPERTY(bool ShowValues READ ShowValues WRITE setShowValues)
    Q_PROPERTY(bool ShowCross READ ShowCross WRITE setShowCross)
    Q_PROPERTY(bool ReduceFlicker READ ReduceFlicker WRITE setReduceFlicker)
    Q_PROPERTY(bool AutoScale READ AutoScale WRITE setAutoScale)
    Q_PROPERTY(int TimerInterval READ TimerInterval WRITE setTimerInterval)
    Q_PROPERTY(bool TimerEnabled READ TimerEnabled WRITE setTimerEnabled)
    Q_PROPERTY(int PrintLineWidth READ PrintLineWidth WRITE setPrintLineWidth)
    Q_PROPERTY(bool PrintCross READ PrintCross WRITE setPrintCross)
    Q_PROPERTY(int PrintCrossWidth READ PrintCrossWidth WRITE setPrintCrossWidth)
    Q_PROPERTY(bool ToolWindowsOnTop READ ToolWindowsOnTop WRITE setToolWindowsOnTop)
    Q_PROPERTY(bool OwnerDrawXAxis READ OwnerDrawXAxis WRITE setOwnerDrawXAxis)
    Q_PROPERTY(bool OwnerDrawYAxis READ OwnerDrawYAxis WRITE setOwnerDrawYAxis)
    Q_PROPERTY(TColor Color READ Color WRITE setColor)
    Q_PROPERTY(QList<int> Series READ Series WRITE setSeries)
    // clang-format on

    explicit TDXHistographInt(QWidget* parent = nullptr);
    ~TDXHistographInt() override;

    // Events, called only when set.
    std::function<void(QObject* Sender, float X, float Y, int Serie, int Index)> OnCrossMove;
    std::function<void(QObject* Sender, float X, float Y, int Serie, int Index)> OnReferenceMove;
    // A bend has ended and its curve is written back into the series.
    std::function<void(QObject* Sender, int Serie)> OnReferenceBent;
    // A press in a reference mode found no curve of that kind to bend (the plot is back in
    // measure mode); Mode is the reference mode it was in.
    std::function<void(QObject* Sender, TDXMode Mode)> OnNoReference;
    std::function<void(QObject* Sender, int Serie1, int Serie2, float Value1X, float Value2X,
                       float Value1Y, float Value2Y)>
        OnCalculate;
    std::function<void(QObject* Sender)> OnTimer;
    // GridVisible changed, whoever changed it (the grid dialog, a program).
    std::function<void(QObject* Sender)> OnGridVisibleChange;
    std::function<void(double Value, QString& Output)> OnXAxis;
    std::function<void(double Value, QString& Output)> OnYAxis;
    std::function<void(QObject* Sender, QPainter& Canvas, bool Printing)> OnAfterPaint;
    // Mouse messages the plot passes on (zoom, bends and calculate presses keep theirs).
    std::function<void(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                       int Y)>
        OnMouseDown;
    std::function<void(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y)> OnMouseMove;
    std::function<void(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                       int Y)>
        OnMouseUp;

    // Cross slots: 0 and 1 are the two crosses of modeCalculate, 2 the cross of modeMeasure.
    struct TDXCrossSlot
    {
        bool Drawn = false; // live: re-placed at its mouse position on every paint
        int MouseX = 0, MouseY = 0;
        int PixelX = 0, PixelY = 0;
        TColor Color = 0;
        float ValueX = 0, ValueY = 0;
        int Serie = 0;
    };
    static constexpr int CrossSlots = 3;
    static constexpr int MeasureSlot = 2;
    const TDXCrossSlot& CrossSlot(int K) const { return m_slots[K >= 0 && K < CrossSlots ? K : 0]; }

    struct TDXNearest
    {
        int Serie = -1;
        int Index = -1;
        float ValueX = 0, ValueY = 0;
    };
    // Hit tests in client pixels (the plot rectangle is bounds-inclusive).
    float PixelToX(int Px) const;
    float PixelToY(int Py) const;
    int XToPixel(float X) const;
    int YToPixel(float Y) const;
    dxplot::Snap SnapIndex(int Series, int Px) const;
    TDXNearest FindNearestPoint(int Px, int Py) const;
    // Places cross slot K at the data point nearest (Mx, My) and reports it by Mode.
    void DrawCrossAt(int Mx, int My, bool EraseFirst, int K);

    // Zoom state, for the tool bar and tests: the view before the first zoom while zoomed.
    struct TDXSavedView
    {
        float YMin = 0, YMax = 0, XCurrentMin = 0, XCurrentMax = 0, XGap = 0, YGap = 0;
    };
    bool Zoomed() const { return m_zoomed; }
    // Back to the view before the first zoom, as the right button does in zoom mode. A
    // program that sets a new span calls it first, so that a later undo cannot bring back a
    // span the program has left.
    void LeaveZoom()
    {
        if (m_zoomed)
            UndoZoom();
    }
    bool BandActive() const { return m_bandActive; }
    // Ends a press whose release went to another window (a menu the press opened takes it):
    // a bend is written back as the release would have done, and later moves count as moves
    // without a button.
    void EndPress();
    const TDXSavedView& SavedView() const { return m_savedView; }
    bool RefDragActive() const { return m_refDragActive; }

    // The value bar window (created hidden with the plot, owned by it).
    TFormCalculateBar* ValueBar() const { return m_valueBar; }

    // Data in. dtData keeps the caller's pointer; reference kinds are copied.
    void SetSeriesData(float* Data, int Count, int Series);
    void AssignSeriesData(float* Data, int Count, int Series);
    // Count (X, Y) pairs, X first; the pairs are copied and the series becomes dtDataXY.
    void SetSeriesDataXY(const float* Pairs, int Count, int Series);
    void AdjustPointBuffer();
    int PointBufferCapacity() const { return static_cast<int>(m_pointBuffer.size()); }
    const TDXSeries& SeriesRecord(int Series) const;

    // View and scaling.
    void RefreshData();
    void ScaleOnce();
    bool ComputeAutoScale();
    void GetSeriesMinMax(int Series, float& Min, float& Max) const;
    void UpdateLogXMapping();
    void UpdateLogYMapping();
    int LogXToPixel(double Value) const;
    int LogYToPixel(double Value) const;

    // Surface: renders the whole control now (paintEvent does this when the surface is stale).
    void RenderNow();
    // Device pixels, carrying the ratio they were drawn at (QImage::devicePixelRatio).
    const QImage& Surface() const { return m_surface; }
    // Device pixels per logical pixel of the surface: the screen's unless set. Setting a ratio
    // draws at that ratio whatever the screen (for measuring and tests); 0 follows the screen.
    qreal SurfaceRatio() const;
    void SetSurfaceRatio(qreal Ratio);
    // True while a full repaint is pending (a property changed since the last render).
    bool RepaintPending() const { return m_surfaceStale; }
    // The last RefreshData put back and drew only the curves' pixels, not the whole plot area.
    bool RefreshedCurvesOnly() const { return m_refreshedCurvesOnly; }
    QRect PlotRect() const;
    QRect TitleRect(TDXFontId Title) const;
    QTimer* Timer() const { return m_timer; }

    TColor FontColor(TDXFontId Id) const { return m_fontColors[Id]; }
    void setFontColor(TDXFontId Id, TColor Value);

    // Property accessors.
    QString Version() const { return QStringLiteral("7.0"); }
    void setVersion(const QString&) {}
    QString Copyright() const;
    void setCopyright(const QString&) {}
    bool EnableUpdate() const { return m_enableUpdate; }
    void setEnableUpdate(bool Value);
    bool ShowToolBar() const { return m_showToolBar; }
    void setShowToolBar(bool Value);
    // Reads the window's visibility, so a bar closed by its close box reads False.
    bool ShowValueBar() const;
    void setShowValueBar(bool Value);
    TColor GridColor() const { return m_gridColor; }
    void setGridColor(TColor Value);
    TColor BkColor() const { return m_bkColor; }
    void setBkColor(TColor Value);
    TDXGrdVisible GridVisible() const { return m_gridVisible; }
    void setGridVisible(TDXGrdVisible Value);
    TDXGrdScale GridScale() const { return m_gridScale; }
    void setGridScale(TDXGrdScale Value);
    TPenStyle GridLineStyle() const { return m_gridLineStyle; }
    void setGridLineStyle(TPenStyle Value);
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void setBorderStyle(TBorderStyle Value);
    int GapRight() const { return m_gapRight; }
    void setGapRight(int Value);
    int GapLeft() const { return m_gapLeft; }
    void setGapLeft(int Value);
    int GapTop() const { return m_gapTop; }
    void setGapTop(int Value);
    int GapBottom() const { return m_gapBottom; }
    void setGapBottom(int Value);
    QString TitleRight() const { return m_titleRight; }
    void setTitleRight(const QString& Value);
    QString TitleLeft() const { return m_titleLeft; }
    void setTitleLeft(const QString& Value);
    QString TitleTop() const { return m_titleTop; }
    void setTitleTop(const QString& Value);
    QString TitleBottom() const { return m_titleBottom; }
    void setTitleBottom(const QString& Value);
    QFont FontTitleTop() const { return m_fonts[fiTitleTop]; }
    void setFontTitleTop(const QFont& Value);
    QFont FontXAxis() const { return m_fonts[fiXAxis]; }
    void setFontXAxis(const QFont& Value);
    QFont FontYAxis() const { return m_fonts[fiYAxis]; }
    void setFontYAxis(const QFont& Value);
    QFont FontTitleBottom() const { return m_fonts[fiTitleBottom]; }
    void setFontTitleBottom(const QFont& Value);
    QFont FontTitleLeft() const { return m_fonts[fiTitleLeft]; }
    void setFontTitleLeft(const QFont& Value);
    QFont FontTitleRight() const { return m_fonts[fiTitleRight]; }
    void setFontTitleRight(const QFont& Value);
    float ViewYMin() const { return m_viewYMin; }
    void setViewYMin(float Value);
    float ViewYMax() const { return m_viewYMax; }
    void setViewYMax(float Value);
    float ViewYGap() const { return m_viewYGap; }
    void setViewYGap(float Value);
    // A level the horizontal grid passes through (its lines lie at it plus multiples of the
    // gap): 0 by default; an instrument's reference level puts the divisions below it.
    float ViewYGridOrigin() const { return m_viewYGridOrigin; }
    void setViewYGridOrigin(float Value);
    int ViewYDecimals() const { return m_viewYDecimals; }
    void setViewYDecimals(int Value);
    float ViewXNominalMin() const { return m_viewXNominalMin; }
    void setViewXNominalMin(float Value);
    float ViewXNominalMax() const { return m_viewXNominalMax; }
    void setViewXNominalMax(float Value);
    float ViewXCurrentMin() const { return m_viewXCurrentMin; }
    void setViewXCurrentMin(float Value);
    float ViewXCurrentMax() const { return m_viewXCurrentMax; }
    void setViewXCurrentMax(float Value);
    float ViewXGap() const { return m_viewXGap; }
    void setViewXGap(float Value);
    int ViewXDecimals() const { return m_viewXDecimals; }
    void setViewXDecimals(int Value);
    int SeriesNumber() const { return m_seriesNumber; }
    void setSeriesNumber(int Value);
    int SeriesCurrent() const { return m_seriesCurrent; }
    void setSeriesCurrent(int Value);
    TColor SeriesColor() const;
    void setSeriesColor(TColor Value);
    TPenStyle SeriesLineStyle() const;
    void setSeriesLineStyle(TPenStyle Value);
    TDXDataKind SeriesStyle() const;
    void setSeriesStyle(TDXDataKind Value);
    TDXMode Mode() const { return m_mode; }
    void setMode(TDXMode Value);
    int ReferenceRubberWidth() const { return m_referenceRubberWidth; }
    void setReferenceRubberWidth(int Value);
    bool ShowValues() const { return m_showValues; }
    void setShowValues(bool Value);
    bool ShowCross() const { return m_showCross; }
    void setShowCross(bool Value);
    bool ReduceFlicker() const { return m_reduceFlicker; }
    void setReduceFlicker(bool Value);
    bool AutoScale() const { return m_autoScale; }
    void setAutoScale(bool Value);
    int TimerInterval() const { return m_timerInterval; }
    void setTimerInterval(int Value);
    bool TimerEnabled() const { return m_timerEnabled; }
    void setTimerEnabled(bool Value);
    int PrintLineWidth() const { return m_printLineWidth; }
    void setPrintLineWidth(int Value) { m_printLineWidth = Value; }
    bool PrintCross() const { return m_printCross; }
    void setPrintCross(bool Value) { m_printCross = Value; }
    int PrintCrossWidth() const { return m_printCrossWidth; }
    void setPrintCrossWidth(int Value) { m_printCrossWidth = Value; }
    // Stay-on-top style of the value bar, recorded; both tool windows stay above the plot's
    // window only.
    bool ToolWindowsOnTop() const;
    void setToolWindowsOnTop(bool Value);
    bool OwnerDrawXAxis() const { return m_ownerDrawXAxis; }
    void setOwnerDrawXAxis(bool Value) { m_ownerDrawXAxis = Value; }
    bool OwnerDrawYAxis() const { return m_ownerDrawYAxis; }
    void setOwnerDrawYAxis(bool Value) { m_ownerDrawYAxis = Value; }
    TColor Color() const { return m_color; }
    void setColor(TColor Value);
    // Stored list of (LineColor, PenStyle, Kind) triples for series 1..SeriesNumber.
    QList<int> Series() const;
    void setSeries(const QList<int>& Values);

    // --- colour drag and drop (dxHistoIntDrag.cpp) ---
    // Element codes of HitTestElement.
    enum TDXElement {
        elNone,
        elSeries,
        elGrid,
        elBackground,
        elTitleLeft,
        elTitleRight,
        elTitleTop,
        elTitleBottom,
        elYAxis,
        elXAxis,
        elControl
    };
    struct TDXElementHit
    {
        int Code = elNone;
        TColor OldColor = clWhite;
        int Sub = -1; // series number for elSeries
    };
    // The element under a client point, with its current colour.
    TDXElementHit HitTestElement(int X, int Y) const;
    void SetElementColor(int Code, int Sub, TColor Color);
    // Pixel distance to the nearest drawn vertical / horizontal grid line; none without lines.
    std::optional<int> VerticalGridDistance(int X) const;
    std::optional<int> HorizontalGridDistance(int Y) const;
    // Element shown in the dragged colour while a drag passes over the plot (elNone: none).
    int PreviewElement() const { return m_previewElement; }

    // --- measuring markers (dxHistoIntMarkers.cpp) ---
    // A marker is a small numbered mark at a point of the plot, in axis values. The program
    // places it; every paint draws it over the curves (before the crosses), so a marker that
    // moves with each new frame costs no paint of its own. Setting one does not repaint.
    struct TDXMarker
    {
        bool Shown = false;
        float X = 0, Y = 0;
        TColor Color = clWhite;
    };
    static constexpr int MaxMarkers = 6;
    // Number 1..MaxMarkers; other numbers are ignored.
    void SetMarker(int Number, float X, float Y, TColor Color);
    void HideMarker(int Number);
    const TDXMarker& Marker(int Number) const;
    // A band of the X axis shaded over the whole plot height (a channel being measured), drawn
    // under the marks in a translucent colour; like the marks it costs no paint of its own and
    // setting it does not repaint.
    struct TDXShade
    {
        bool Shown = false;
        float X1 = 0, X2 = 0;
        TColor Color = clWhite;
    };
    static constexpr int ShadeAlpha = 56;
    void SetShade(float X1, float X2, TColor Color);
    void HideShade();
    const TDXShade& Shade() const { return m_shade; }

    // --- tool bar (dx_Etb) ---
    // The tool bar window: created hidden by the first change of ShowToolBar, owned by the plot.
    TFormToolBar* ToolBar() const { return m_toolBar; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void RestorePreview();
    void ResetPreview();

    int m_previewElement = elNone;
    int m_previewSub = -1;
    TColor m_previewOldColor = clWhite;
    // Colour of the drag in progress, read once when it enters.
    std::optional<TColor> m_dragColor;
    TFormToolBar* m_toolBar = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool IsLogX() const { return m_gridScale == sclLogLin || m_gridScale == sclLogLog; }
    bool IsLogY() const { return m_gridScale == sclLinLog || m_gridScale == sclLogLog; }
    bool SeriesAddressable() const;
    void Invalidate();
    void UpdateTimer();
    void SetFont(TDXFontId Id, const QFont& Value);
    void RepairLogXLimits();
    bool SurfaceFits() const;
    void EnsureSurfaceSize();
    // Asks Qt to repaint the screen pixels of the surface's logical rectangle r.
    void UpdateScreen(const QRect& r);

    // Paint path.
    void Paint(const QRect& clip);
    void DrawPlot(TDXCanvas& canvas);
    void DrawTitles(TDXCanvas& canvas);
    void DrawSideTitle(TDXCanvas& canvas, TDXFontId id, const QString& text, bool left);
    void DrawYAxis(TDXCanvas& canvas, const dxplot::PlotBox& plot, bool labels);
    void DrawXAxis(TDXCanvas& canvas, const dxplot::PlotBox& plot, bool labels);
    QString AxisLabel(bool xAxis, double value, const std::string& pattern) const;
    void DrawRangeError(TDXCanvas& canvas, const QString& text, int y);

    // Series rendering.
    void DrawSeries(TDXCanvas& canvas, const dxplot::PlotBox& plot);
    // New data on an unchanged plot: the curves' pixels go back to the background and the
    // curves are drawn anew, instead of the whole plot area. False when that cannot be done.
    bool RefreshCurves();
    void KeepBackground(const QRect& device);
    void DrawDataSeries(TDXCanvas& canvas, const TDXSeries& series, const dxplot::PlotBox& plot,
                        const QRect& area);
    void DrawReferenceSeries(TDXCanvas& canvas, const TDXSeries& series,
                             const dxplot::PlotBox& plot, const QRect& area);
    void DrawEquidistant(TDXCanvas& canvas, const TDXSeries& series, const dxplot::PlotBox& plot,
                         const QRect& area, int limit, bool decimate);
    dxplot::ViewRange View() const;
    void FreeSeriesData(int index);

    // Interaction (cross, modes, bend): drawn with an inverting raster op into the surface, then
    // only the touched strips go to the screen.
    dxplot::CrossGeometry Geometry() const;
    void DrawCrossLines(TDXCanvas& canvas, int px, TColor color, int py);
    // Asks for the screen update of a cross's lines.
    void MarkCrossLines(int px, int py);
    void PlaceCross(TDXCanvas& canvas, int mx, int my, bool eraseFirst, int k);
    void EraseCross(TDXCanvas& canvas, int k);
    void NotifyCross(int k, int index);
    void UpdateValueBar(int k);
    void PaintOverlays(TDXCanvas& canvas, bool crosses);
    void DrawMarkers(TDXCanvas& canvas);
    void DrawShade(TDXCanvas& canvas);
    void MarkDirty(const QRect& r);
    void FlushDirty();
    void MeasureTracking(int x, int y);
    void CalculateFollow(int x, int y);
    bool ZoomBandActive() const;
    void DrawBand(TDXCanvas& canvas);
    void StartBand(int x, int y);
    void MoveBand(int x, int y);
    void EndBand();
    void UndoZoom();
    void StartBend(int x, int y);
    void MoveBend(int y);
    void EndBend();
    void DrawBendCurve(TDXCanvas& canvas);
    void ShowValueReadout(const QFont& font, float y, float x);
    void CreateValueBar();
    void KeepValueBarClearOfToolBar();

    // Published state.
    bool m_enableUpdate = true;
    bool m_showToolBar = false;
    mutable bool m_showValueBar = false;
    TColor m_gridColor = clGray;
    TColor m_bkColor = clBtnFace;
    TColor m_color = clBtnFace;
    TDXGrdVisible m_gridVisible = grdNone;
    TDXGrdScale m_gridScale = sclLinLin;
    TPenStyle m_gridLineStyle = psSolid;
    TBorderStyle m_borderStyle = bsSingle;
    int m_gapRight = 40;
    int m_gapLeft = 70;
    int m_gapTop = 40;
    int m_gapBottom = 60;
    QString m_titleRight, m_titleLeft, m_titleTop, m_titleBottom;
    std::array<QFont, 6> m_fonts;
    std::array<TColor, 6> m_fontColors{};
    float m_viewYMin = 0.0f;
    float m_viewYMax = 10.0f;
    float m_viewYGap = 2.0f;
    float m_viewYGridOrigin = 0.0f;
    int m_viewYDecimals = 2;
    float m_viewXNominalMin = 0.0f;
    float m_viewXNominalMax = 10.0f;
    float m_viewXCurrentMin = 0.0f;
    float m_viewXCurrentMax = 10.0f;
    float m_viewXGap = 2.0f;
    int m_viewXDecimals = 2;
    int m_seriesNumber = 1;
    int m_seriesCurrent = 1;
    TDXMode m_mode = modeMeasure;
    int m_referenceRubberWidth = 30;
    bool m_showValues = true;
    bool m_showCross = true;
    bool m_reduceFlicker = false;
    bool m_autoScale = false;
    int m_printLineWidth = 1;
    bool m_printCross = false;
    int m_printCrossWidth = 1;
    bool m_ownerDrawXAxis = false;
    bool m_ownerDrawYAxis = false;

    // Internal state.
    std::array<TDXSeries, MaxSeries> m_series{};
    std::array<std::unique_ptr<float[]>, MaxSeries> m_ownedData;
    std::vector<dxplot::Point> m_pointBuffer;
    dxplot::LogMapping m_logX;
    dxplot::LogMapping m_logY;
    bool m_rotatedFontsPrepared = false;
    std::array<bool, 6> m_fontSet{};
    std::array<QRect, 4> m_titleRects;
    QTimer* m_timer = nullptr;
    int m_timerInterval = 1000;
    bool m_timerEnabled = false;
    QImage m_surface;
    dxplot::DeviceScale m_scale; // of m_surface
    QImage m_deviceView;         // the canvases' painter view of m_surface
    // The plot area's device pixels without the curves, as the last full paint left them, and
    // the rows the curves have covered since in each column.
    dxplot::ColumnBackground m_background;
    QRect m_backgroundRect;
    bool m_backgroundValid = false;
    dxplot::ColumnSpans m_curveSpans;
    dxplot::ColumnSpans m_previousSpans;
    dxplot::ColumnSpans* m_recording = nullptr; // set while a paint draws the curves
    dxplot::CurveSweep* m_sweep = nullptr;      // set while new data is drawn over the old
    bool m_refreshedCurvesOnly = false;
    qreal m_ratioOverride = 0;
    bool m_surfaceStale = true;

    // Interaction state.
    std::array<TDXCrossSlot, CrossSlots> m_slots{};
    std::array<bool, CrossSlots> m_slotShown{}; // its lines are in the surface now
    TDXCanvas* m_paintCanvas = nullptr;         // set while a paint runs
    static constexpr int MaxDirty = 8;
    std::array<QRect, MaxDirty> m_dirty;
    int m_dirtyCount = 0;
    Qt::MouseButton m_lastButton = Qt::NoButton;
    bool m_buttonDown = false;
    bool m_bandActive = false;
    bool m_bandShown = false;
    QRect m_bandRect; // left/top = press point, right/bottom = pointer (may be unnormalised)
    bool m_zoomed = false;
    TDXSavedView m_savedView;
    bool m_refDragActive = false;
    bool m_refCurveShown = false;
    int m_refSerie = 0;
    int m_downX = 0, m_downY = 0;
    int m_grabbed = 0;
    float m_grabbedX = 0;
    int m_rubberWidth = 0;
    int m_first = 0, m_last = 0, m_weightOffset = 0;
    std::vector<float> m_weights;
    std::vector<float> m_refBuffer;
    TDXSeries m_refPen;
    QRect m_refClip;
    QSize m_readoutSize; // value box of a bend, measured at its first move
    TFormCalculateBar* m_valueBar = nullptr;
    std::array<TDXMarker, MaxMarkers> m_markers{};
    TDXShade m_shade;
};

using TDXDataKind = TDXHistographInt::TDXDataKind;
using TDXMode = TDXHistographInt::TDXMode;
using TDXGrdVisible = TDXHistographInt::TDXGrdVisible;
using TDXGrdScale = TDXHistographInt::TDXGrdScale;
using TPenStyle = TDXHistographInt::TPenStyle;
using TBorderStyle = TDXHistographInt::TBorderStyle;
using enum TDXHistographInt::TDXDataKind;
using enum TDXHistographInt::TDXMode;
using enum TDXHistographInt::TDXGrdVisible;
using enum TDXHistographInt::TDXGrdScale;
using enum TDXHistographInt::TPenStyle;
using enum TDXHistographInt::TBorderStyle;
