#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <vector>

#include "FrameRecipe.h"
#include "MarkerPlacement.h"
#include "PeakSearch.h"
#include "dxColors.h"
#include "dxFFT.h"

class QAction;
class QCheckBox;
class QPoint;
class QComboBox;
class QGroupBox;
class QSpinBox;
class QToolButton;
class QWidget;
class TForm1;
class TIniFile;
class TMarkerReadout;
class TMarkerTable;

// The window's measuring tools: six markers that sit on peaks of a chosen trace, their
// read-out line (markers 1 and 2) and table (all), and the max hold, min hold and average
// traces shown as extra plot series. The recipe holds the traces and makes the markers follow
// their peaks, on the averaged magnitudes of the whole spectrum in physical bins; these tools
// choose the peaks, and only what is shown is mirrored, offset and cut to the span.
class TMeasureTools
{
public:
    // The traces a marker can sit on, in the order of the marker's choice box (and of the
    // recipe's TMarkerTrace).
    enum TTrace { trLive, trMax, trMin, trAverage };
    static constexpr int MarkerCount = quillex::TFrameRecipe::MarkerCount;
    static constexpr int DefaultAverageFrames = 10;
    static constexpr const char* SettingsSection = "Traces";
    static constexpr const char* MarkersSection = "Markers";
    // Plot series of the hold traces (the live trace is series 1).
    static constexpr int MaxSeries = 2, MinSeries = 3, AverageSeries = 4;
    static constexpr std::array<TColor, MarkerCount> MarkerColors{clWhite,  clFuchsia, clSilver,
                                                                  0x80FFFF, 0xFFC080,  0x8080FF};
    static constexpr TColor MaxColor = clYellow, MinColor = clAqua, AverageColor = 0x0080FF;

    explicit TMeasureTools(TForm1& Form);
    ~TMeasureTools();
    TMeasureTools(const TMeasureTools&) = delete;
    TMeasureTools& operator=(const TMeasureTools&) = delete;

    // Parts of the window, built with its layout: the read-out line (under the plot), the
    // "Traces" group of the settings panel, the marker items of the plot's context menu.
    QWidget* BuildReadout(QWidget* Parent);
    QGroupBox* BuildTracesGroup(QWidget* Parent);
    // Called when the markers have been shown anew (a frame, a move, a new view), so that
    // other read-outs follow them.
    std::function<void()> OnMarkersShown;

    // Every processed frame, after the recipe and before the plot is given the frame: the
    // holds and the markers shown.
    void FrameProcessed();
    // The span or the frame settings may have changed.
    void ViewChanged();

    // Marker Number (1..6) to the highest peak of the chosen trace inside the visible span;
    // a marker other than 1 to the highest that no other marker sits on.
    void PeakClick(int Number);
    // Marker Number to the nearest peak on the display's left or right, whatever its level.
    void NextPeakClick(int Number, bool Left);
    // Marker Number to the highest peak of the span lower than its own.
    void NextLowerPeakClick(int Number);
    // Marker Number to the peak nearest a frequency on the plot's axis (kHz, no offset) within
    // RadiusBins, else onto that frequency's bin.
    void PlaceNear(int Number, double AxisKHz, double RadiusBins);
    // Where the plot's context menu was opened (plot coordinates): "Marker here" goes there.
    void SetMenuPlace(const QPoint& Place);
    void MarkerHereClick(int Number);
    // Asks for a frequency in MHz as displayed.
    void MarkerToFrequencyClick(int Number);
    void MarkerOffClick(int Number);
    void MarkersOffClick();
    void ShowTableClick();
    void ClearTracesClick();
    // The marker the keys without Shift and "Marker here" move: 1, or the table's chosen row
    // while the table is shown.
    int ActiveMarker() const;
    TMarkerTable* Table() const { return FTable; }

    bool MarkerPlaced(int Number) const;
    // Physical (fractional) bin of a placed marker.
    double MarkerBin(int Number) const;
    // The read-out's texts: "M1 ...", "M2 ...", "M2-M1 ..." for what is placed, then "RBW ...".
    QStringList ReadoutTexts() const;
    // A marker's frequency and level as displayed.
    quillex::TMarkerReading Reading(int Number) const;
    TTrace MarkerTrace() const;
    // How the markers are reached, for the About box.
    QString KeysHint() const;

    // The sections "Traces" and "Markers" of the settings file (Ini null: no file). Takes its
    // own snapshot, against which SettingsChanged compares.
    void LoadSettings(const TIniFile* Ini);
    void SaveSettings(TIniFile& Ini) const;
    bool SettingsChanged() const;

    // --- controls ---
    QGroupBox* GBTraces = nullptr;
    QCheckBox* CBMaxHold = nullptr;
    QCheckBox* CBMinHold = nullptr;
    QCheckBox* CBAverage = nullptr;
    QSpinBox* SEAverageFrames = nullptr;
    QComboBox* CBMarkerTrace = nullptr;
    QToolButton* BtnClearTraces = nullptr;
    TMarkerReadout* Readout = nullptr;
    QAction* ActPeak = nullptr;
    QAction* ActNextPeakLeft = nullptr;
    QAction* ActNextPeakRight = nullptr;
    QAction* ActNextLower = nullptr;
    QAction* ActPeak2 = nullptr;
    QAction* ActNextPeakLeft2 = nullptr;
    QAction* ActNextPeakRight2 = nullptr;
    QAction* ActNextLower2 = nullptr;
    QAction* ActMarkerHere = nullptr;
    QAction* ActMarker2Here = nullptr;
    QAction* ActMarkerToFrequency = nullptr;
    QAction* ActMarkerTable = nullptr;
    QAction* ActMarkersOff = nullptr;

private:
    // The FFT's bin count now.
    int Bins() const;
    void BuildMenu();
    void BuildTable();
    void PlotMouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Modifiers, int X, int Y);
    // Bins of the spectrum per pixel of the plot now.
    double BinsPerPixel() const;
    // The resolution bandwidth's text follows the FFT's size and window.
    void Configured();
    void TracesSwitched();
    void MarkerTraceChosen();
    // Physical bins shown by the plot now.
    void VisibleBins(int& First, int& Last) const;
    void Place(int Number, const quillex::TPeak& Peak);
    bool ValidNumber(int Number) const { return Number >= 1 && Number <= MarkerCount; }
    const quillex::TFrameMarker& MarkerOf(int Number) const { return FRecipe.Marker(Number); }
    const quillex::TFrameMarker* PlacedOrOnPeak(int Number);
    void ShowHoldTraces();
    void ShowMarkers();
    void ShowTable();
    // "M1 [max] < 14.2504 MHz" and its level, or nothing for a marker not placed.
    QString MarkerText(int Number, const quillex::TMarkerReading& Reading) const;
    void Repaint();
    std::array<int, 5> CurrentSettings() const;
    // Where the user placed the markers (physical Hz, -1 for none) and the table's reference.
    std::array<int, MarkerCount + 1> MarkerSettings() const;

    TForm1& FForm;
    quillex::TFrameRecipe& FRecipe;
    quillex::TPeakChooser FChooser;
    TMarkerTable* FTable = nullptr;
    // The axis frequency (kHz) where the context menu was opened.
    double FMenuKHz = 0;
    // Per marker: where the user last placed it, in physical Hz (-1: not placed). A marker
    // following its carrier does not count as a change of the settings.
    std::array<int, MarkerCount> FPlacedHz{};
    int FReference = 1;
    std::array<int, MarkerCount + 1> FMarkerSnapshot{};
    std::array<std::vector<float>, 3> FHoldLevels;
    // The resolution bandwidth's text, made when the FFT's size or window changes (measuring
    // the window's coefficients every frame would cost more than the markers themselves).
    QString FRbwText;
    int FRbwN = 0;
    TDXLeakType FRbwWindow = wnOwn;
    std::array<int, 5> FSnapshot{};
};
