// Markers that measure peaks, their read-out and the hold traces of the main window.

#include "Unit1Markers.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPoint>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "IniFileU.h"
#include "MarkerPosition.h"
#include "MarkerReadout.h"
#include "MarkerTable.h"
#include "Unit1.h"
#include "Unit1Limits.h"
#include "WindowSpectrum.h"
#include "dxHisto.h"

namespace {

constexpr double SpectrumKHz = 40000.0;
// Bins beyond the view converted as well: the curves reach one sample past each edge.
constexpr int SpanMargin = 2;

TColor HoldColor(int Series)
{
    return Series == TMeasureTools::MaxSeries   ? TMeasureTools::MaxColor
           : Series == TMeasureTools::MinSeries ? TMeasureTools::MinColor
                                                : TMeasureTools::AverageColor;
}

// A value rounded to Decimals, with a zero that prints without a sign of its own.
double Rounded(double Value, int Decimals)
{
    const double scale = std::pow(10.0, Decimals);
    const double r = std::nearbyint(Value * scale) / scale;
    return r == 0.0 ? 0.0 : r;
}

QString Fixed(const char* Sign, int Decimals, double Value, const char* Unit)
{
    char format[32];
    std::snprintf(format, sizeof format, "%%%s0.%df%s%s", Sign, Decimals, *Unit ? " " : "", Unit);
    return LocalFormat(format, Rounded(Value, Decimals));
}

} // namespace

TMeasureTools::TMeasureTools(TForm1& Form) : FForm(Form), FRecipe(Form.Recipe)
{
    for (std::vector<float>& levels : FHoldLevels)
        levels.assign(TForm1::SpectrumCapacity, 0.0f);
    FPlacedHz.fill(-1);
}

TMeasureTools::~TMeasureTools() = default;

int TMeasureTools::Bins() const
{
    return FRecipe.N();
}

QWidget* TMeasureTools::BuildReadout(QWidget* Parent)
{
    Readout = new TMarkerReadout(Parent);
    Readout->setObjectName(QStringLiteral("MarkerReadout"));
    Readout->hide();
    TDXHistograph* histo = FForm.Histo;
    // The hold traces' colours are set once; their data comes with the frames.
    histo->setSeriesNumber(AverageSeries);
    for (int s = MaxSeries; s <= AverageSeries; ++s) {
        histo->setSeriesCurrent(s);
        histo->setSeriesColor(HoldColor(s));
    }
    histo->setSeriesCurrent(1);
    histo->setSeriesNumber(1);
    BuildMenu();
    return Readout;
}

void TMeasureTools::BuildMenu()
{
    const auto action = [this](const QString& Text, const char* Name, QKeySequence Keys) {
        return AddWindowAction(FForm, Text, Name, Keys);
    };
    const auto keys = [](int Modifiers, Qt::Key Key) { return QKeySequence(Modifiers | Key); };
    const int ctrl = Qt::CTRL, shift = Qt::SHIFT;
    ActPeak = action(QStringLiteral("Peak"), "ActPeak", keys(0, Qt::Key_P));
    ActNextPeakLeft =
        action(QStringLiteral("Next peak left"), "ActNextPeakLeft", keys(ctrl, Qt::Key_Left));
    ActNextPeakRight =
        action(QStringLiteral("Next peak right"), "ActNextPeakRight", keys(ctrl, Qt::Key_Right));
    ActNextLower = action(QStringLiteral("Next peak"), "ActNextLower", keys(0, Qt::Key_N));
    ActPeak2 = action(QStringLiteral("Peak"), "ActPeak2", keys(shift, Qt::Key_P));
    ActNextPeakLeft2 = action(QStringLiteral("Next peak left"), "ActNextPeakLeft2",
                              keys(ctrl | shift, Qt::Key_Left));
    ActNextPeakRight2 = action(QStringLiteral("Next peak right"), "ActNextPeakRight2",
                               keys(ctrl | shift, Qt::Key_Right));
    ActNextLower2 = action(QStringLiteral("Next peak"), "ActNextLower2", keys(shift, Qt::Key_N));
    ActMarkerHere = action(QStringLiteral("Marker here"), "ActMarkerHere", QKeySequence());
    ActMarker2Here = action(QStringLiteral("Marker 2 here"), "ActMarker2Here", QKeySequence());
    ActMarkerToFrequency =
        action(QStringLiteral("Marker to frequency..."), "ActMarkerToFrequency", QKeySequence());
    ActMarkerTable = action(QStringLiteral("Markers..."), "ActMarkerTable", QKeySequence());
    ActMarkersOff = action(QStringLiteral("Markers off"), "ActMarkersOff", QKeySequence());

    QMenu* menu = FForm.HistoMenu;
    menu->addSeparator();
    for (QAction* a : {ActMarkerHere, ActMarker2Here, ActMarkerToFrequency, ActPeak,
                       ActNextPeakLeft, ActNextPeakRight, ActNextLower})
        menu->addAction(a);
    QMenu* second = menu->addMenu(QStringLiteral("Marker 2"));
    second->setObjectName(QStringLiteral("HistoMenuMarker2"));
    for (QAction* a : {ActPeak2, ActNextPeakLeft2, ActNextPeakRight2, ActNextLower2})
        second->addAction(a);
    menu->addAction(ActMarkerTable);
    menu->addAction(ActMarkersOff);

    const auto on = [this](QAction* Action, auto Handler) {
        QObject::connect(Action, &QAction::triggered, &FForm,
                         [this, Handler] { FForm.Guard([&] { Handler(); }); });
    };
    on(ActPeak, [this] { PeakClick(ActiveMarker()); });
    on(ActNextPeakLeft, [this] { NextPeakClick(ActiveMarker(), true); });
    on(ActNextPeakRight, [this] { NextPeakClick(ActiveMarker(), false); });
    on(ActNextLower, [this] { NextLowerPeakClick(ActiveMarker()); });
    on(ActPeak2, [this] { PeakClick(2); });
    on(ActNextPeakLeft2, [this] { NextPeakClick(2, true); });
    on(ActNextPeakRight2, [this] { NextPeakClick(2, false); });
    on(ActNextLower2, [this] { NextLowerPeakClick(2); });
    on(ActMarkerHere, [this] { MarkerHereClick(ActiveMarker()); });
    on(ActMarker2Here, [this] { MarkerHereClick(2); });
    on(ActMarkerToFrequency, [this] { MarkerToFrequencyClick(ActiveMarker()); });
    on(ActMarkerTable, [this] { ShowTableClick(); });
    on(ActMarkersOff, [this] { MarkersOffClick(); });
    // Ctrl+click (with Shift: marker 2); the plot uses neither, and window managers take Alt.
    FForm.Histo->OnMouseDown = [this](QObject*, Qt::MouseButton Button,
                                      Qt::KeyboardModifiers Modifiers, int X, int Y) {
        FForm.Guard([&] { PlotMouseDown(Button, Modifiers, X, Y); });
    };
}

void TMeasureTools::BuildTable()
{
    FTable = new TMarkerTable(MarkerCount, &FForm);
    FTable->SetReference(FReference);
    const auto on = [this](QToolButton* Button, auto Handler) {
        QObject::connect(Button, &QToolButton::clicked, &FForm,
                         [this, Handler] { FForm.Guard([&] { Handler(FTable->Selected()); }); });
    };
    on(FTable->BtnPeak, [this](int Number) { PeakClick(Number); });
    on(FTable->BtnNextLeft, [this](int Number) { NextPeakClick(Number, true); });
    on(FTable->BtnNextRight, [this](int Number) { NextPeakClick(Number, false); });
    on(FTable->BtnNextLower, [this](int Number) { NextLowerPeakClick(Number); });
    on(FTable->BtnFrequency, [this](int Number) { MarkerToFrequencyClick(Number); });
    on(FTable->BtnOff, [this](int Number) { MarkerOffClick(Number); });
    QObject::connect(FTable->CBReference, &QComboBox::currentIndexChanged, &FForm, [this] {
        FReference = FTable->Reference();
        ShowTable();
    });
}

void TMeasureTools::ShowTableClick()
{
    if (FTable == nullptr)
        BuildTable();
    ShowTable();
    FTable->show();
    FTable->raise();
}

int TMeasureTools::ActiveMarker() const
{
    return FTable && FTable->isVisible() ? FTable->Selected() : 1;
}

void TMeasureTools::PlotMouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Modifiers, int X,
                                  int Y)
{
    if (Button != Qt::LeftButton || !(Modifiers & Qt::ControlModifier) ||
        !FForm.Histo->PlotRect().contains(X, Y))
        return;
    const int number = Modifiers & Qt::ShiftModifier ? 2 : ActiveMarker();
    PlaceNear(number, FForm.Histo->PixelToX(X),
              std::max(quillex::PointedRadiusBins, 3.0 * BinsPerPixel()));
}

double TMeasureTools::BinsPerPixel() const
{
    const TDXHistograph* histo = FForm.Histo;
    const int pixels = std::max(histo->PlotRect().width(), 1);
    return (histo->ViewXCurrentMax() - histo->ViewXCurrentMin()) / pixels / (SpectrumKHz / Bins());
}

void TMeasureTools::SetMenuPlace(const QPoint& Place)
{
    const bool inPlot = FForm.Histo->PlotRect().contains(Place);
    FMenuKHz = FForm.Histo->PixelToX(Place.x());
    ActMarkerHere->setEnabled(inPlot);
    ActMarker2Here->setEnabled(inPlot);
}

void TMeasureTools::MarkerHereClick(int Number)
{
    PlaceNear(Number, FMenuKHz, std::max(quillex::PointedRadiusBins, 3.0 * BinsPerPixel()));
}

void TMeasureTools::MarkerToFrequencyClick(int Number)
{
    if (!ValidNumber(Number))
        return;
    const int n = Bins();
    const quillex::TFrameMarker& m = MarkerOf(Number);
    const double offer =
        m.Placed ? Reading(Number).MHz
                 : (FForm.Histo->ViewXCurrentMin() + FForm.Histo->ViewXCurrentMax()) / 2000.0 +
                       FForm.FreqOffset;
    const int decimals = quillex::MarkerFrequencyDecimals(n);
    const std::optional<double> mhz = FForm.Prompts().AskNumber(
        QStringLiteral("Marker %1 at (MHz):").arg(Number), Rounded(offer, decimals), decimals);
    if (!mhz)
        return;
    const double axisKHz = (*mhz - FForm.FreqOffset) * 1000.0;
    const double binKHz = SpectrumKHz / n;
    if (!std::isfinite(axisKHz) || axisKHz < -binKHz / 2 || axisKHz > SpectrumKHz - binKHz / 2) {
        FForm.Prompts().ShowError(
            LocalFormat("%0.6g MHz", *mhz) + QStringLiteral(" lies outside the spectrum (") +
            LocalFormat("%0.3f", double(FForm.FreqOffset)) + QStringLiteral(" to ") +
            LocalFormat("%0.3f MHz).", FForm.FreqOffset + (SpectrumKHz - binKHz) / 1000.0));
        return;
    }
    PlaceNear(Number, axisKHz, quillex::TypedRadiusBins);
}

void TMeasureTools::PlaceNear(int Number, double AxisKHz, double RadiusBins)
{
    if (!ValidNumber(Number))
        return;
    const int n = Bins();
    const double physical =
        quillex::DisplayedBin(AxisKHz * n / SpectrumKHz, n, FForm.CBInverted->isChecked());
    Place(Number, quillex::PeakNearPlace(FRecipe.TraceMagnitudes(), n, FRecipe.Settings().Window,
                                         physical, RadiusBins));
}

QGroupBox* TMeasureTools::BuildTracesGroup(QWidget* Parent)
{
    GBTraces = new QGroupBox(QStringLiteral("Traces"), Parent);
    GBTraces->setObjectName(QStringLiteral("GBTraces"));
    // One control a row: the panel is narrow.
    auto* column = new QVBoxLayout(GBTraces);
    column->setContentsMargins(2, 1, 2, 1);
    column->setSpacing(1);
    const auto named = [](auto* Widget, const char* Name) {
        Widget->setObjectName(QLatin1String(Name));
        return Widget;
    };
    CBMaxHold = named(new QCheckBox(QStringLiteral("Max hold"), GBTraces), "CBMaxHold");
    CBMinHold = named(new QCheckBox(QStringLiteral("Min hold"), GBTraces), "CBMinHold");
    CBAverage = named(new QCheckBox(QStringLiteral("Average"), GBTraces), "CBAverage");
    SEAverageFrames = named(new QSpinBox(GBTraces), "SEAverageFrames");
    SEAverageFrames->setRange(quillex::THoldTraces::MinDepth, quillex::THoldTraces::MaxDepth);
    SEAverageFrames->setValue(DefaultAverageFrames);
    SEAverageFrames->setSuffix(QStringLiteral(" frames"));
    SEAverageFrames->setToolTip(QStringLiteral("Frames in the average"));
    auto* markerLabel = new QLabel(QStringLiteral("Marker on"), GBTraces);
    CBMarkerTrace = named(new QComboBox(GBTraces), "CBMarkerTrace");
    CBMarkerTrace->addItems({QStringLiteral("live"), QStringLiteral("max"), QStringLiteral("min"),
                             QStringLiteral("average")});
    CBMarkerTrace->setToolTip(QStringLiteral("The trace the markers sit on"));
    markerLabel->setBuddy(CBMarkerTrace);
    BtnClearTraces = named(new QToolButton(GBTraces), "BtnClearTraces");
    BtnClearTraces->setText(QStringLiteral("Clear"));
    BtnClearTraces->setToolTip(QStringLiteral("Start the hold traces anew"));
    BtnClearTraces->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    for (QWidget* w : {static_cast<QWidget*>(CBMaxHold), static_cast<QWidget*>(CBMinHold),
                       static_cast<QWidget*>(CBAverage), static_cast<QWidget*>(SEAverageFrames),
                       static_cast<QWidget*>(markerLabel), static_cast<QWidget*>(CBMarkerTrace),
                       static_cast<QWidget*>(BtnClearTraces)})
        column->addWidget(w);

    for (QCheckBox* box : {CBMaxHold, CBMinHold, CBAverage})
        QObject::connect(box, &QCheckBox::toggled, &FForm,
                         [this] { FForm.Guard([this] { TracesSwitched(); }); });
    QObject::connect(SEAverageFrames, &QSpinBox::valueChanged, &FForm,
                     [this] { FForm.Guard([this] { TracesSwitched(); }); });
    QObject::connect(CBMarkerTrace, &QComboBox::currentIndexChanged, &FForm,
                     [this] { FForm.Guard([this] { MarkerTraceChosen(); }); });
    QObject::connect(BtnClearTraces, &QToolButton::clicked, &FForm,
                     [this] { FForm.Guard([this] { ClearTracesClick(); }); });
    return GBTraces;
}

void TMeasureTools::Configured()
{
    if (FRbwN == Bins() && FRbwWindow == FRecipe.Settings().Window)
        return;
    FRbwN = Bins();
    FRbwWindow = FRecipe.Settings().Window;
    const double rbw = quillex::ResolutionBandwidthKHz(FRecipe.FFT());
    FRbwText = std::isfinite(rbw) ? QStringLiteral("RBW ") + Fixed("", 1, rbw, "kHz") : QString();
}

void TMeasureTools::TracesSwitched()
{
    // Nothing gathered while they were all off is shown; another depth keeps what they hold.
    FRecipe.SetHolds({CBMaxHold->isChecked(), CBMinHold->isChecked(), CBAverage->isChecked(),
                      SEAverageFrames->value()});
    // The markers' trace must be one that is shown.
    const QCheckBox* boxes[] = {nullptr, CBMaxHold, CBMinHold, CBAverage};
    const int trace = CBMarkerTrace->currentIndex();
    if (trace > trLive && trace <= trAverage && !boxes[trace]->isChecked())
        CBMarkerTrace->setCurrentIndex(trLive);
    ShowHoldTraces();
    Repaint();
}

void TMeasureTools::MarkerTraceChosen()
{
    QCheckBox* boxes[] = {nullptr, CBMaxHold, CBMinHold, CBAverage};
    const int trace = CBMarkerTrace->currentIndex();
    if (trace > trLive && trace <= trAverage)
        boxes[trace]->setChecked(true);
    FRecipe.SetMarkerTrace(quillex::TMarkerTrace(MarkerTrace()));
    ShowMarkers();
    Repaint();
}

TMeasureTools::TTrace TMeasureTools::MarkerTrace() const
{
    const int index = CBMarkerTrace->currentIndex();
    return index >= trLive && index <= trAverage ? TTrace(index) : trLive;
}

void TMeasureTools::VisibleBins(int& First, int& Last) const
{
    const quillex::TBinRange range =
        quillex::PhysicalBinsInView(FForm.Histo->ViewXCurrentMin(), FForm.Histo->ViewXCurrentMax(),
                                    Bins(), FForm.CBInverted->isChecked());
    First = range.First;
    Last = range.Last;
}

void TMeasureTools::FrameProcessed()
{
    Configured();
    ShowHoldTraces();
    ShowMarkers();
}

void TMeasureTools::ViewChanged()
{
    Configured();
    ShowHoldTraces();
    ShowMarkers();
}

void TMeasureTools::Place(int Number, const quillex::TPeak& Peak)
{
    FRecipe.PlaceMarker(Number, Peak);
    FPlacedHz[size_t(Number - 1)] = int(std::lround(Peak.Bin * SpectrumKHz * 1000.0 / Bins()));
    ShowMarkers();
    Repaint();
}

void TMeasureTools::PeakClick(int Number)
{
    if (!ValidNumber(Number))
        return;
    int first, last;
    VisibleBins(first, last);
    // A fresh marker other than 1 never lands on another's tone: its difference is never 0.
    std::array<double, MarkerCount> apart{};
    size_t others = 0;
    for (int i = 1; i <= MarkerCount && Number != 1; ++i)
        if (i != Number && MarkerOf(i).Placed)
            apart[others++] = MarkerOf(i).Bin;
    quillex::TPeak peak;
    if (FChooser.Highest(FRecipe.TraceMagnitudes(), Bins(), FRecipe.Settings().Window, first, last,
                         std::span<const double>(apart.data(), others), HUGE_VAL, peak))
        Place(Number, peak);
}

// The marker to step from; one not yet placed goes to the highest peak instead (nullptr).
const quillex::TFrameMarker* TMeasureTools::PlacedOrOnPeak(int Number)
{
    if (!ValidNumber(Number))
        return nullptr;
    if (!MarkerOf(Number).Placed) {
        PeakClick(Number);
        return nullptr;
    }
    return &MarkerOf(Number);
}

void TMeasureTools::NextPeakClick(int Number, bool Left)
{
    const quillex::TFrameMarker* placed = PlacedOrOnPeak(Number);
    if (placed == nullptr)
        return;
    const quillex::TFrameMarker& m = *placed;
    const int n = Bins();
    const TDXLeakType window = FRecipe.Settings().Window;
    const float* magnitudes = FRecipe.TraceMagnitudes();
    int first, last;
    VisibleBins(first, last);
    // With the spectrum mirrored the display's left holds the higher physical bins.
    const bool lowerBins = Left != FForm.CBInverted->isChecked();
    quillex::TPeak peak;
    const bool found =
        lowerBins
            ? quillex::NextPeakLeft(magnitudes, n, window, m.Bin, HUGE_VAL, first, last, peak)
            : quillex::NextPeakRight(magnitudes, n, window, m.Bin, HUGE_VAL, first, last, peak);
    if (found)
        Place(Number, peak);
}

void TMeasureTools::NextLowerPeakClick(int Number)
{
    const quillex::TFrameMarker* placed = PlacedOrOnPeak(Number);
    if (placed == nullptr)
        return;
    const quillex::TFrameMarker& m = *placed;
    int first, last;
    VisibleBins(first, last);
    // Its own tone is not lower than itself: nothing to keep apart from.
    quillex::TPeak peak;
    if (FChooser.Highest(FRecipe.TraceMagnitudes(), Bins(), FRecipe.Settings().Window, first, last,
                         {}, m.Magnitude, peak))
        Place(Number, peak);
}

void TMeasureTools::MarkerOffClick(int Number)
{
    if (!ValidNumber(Number))
        return;
    FRecipe.RemoveMarker(Number);
    FPlacedHz[size_t(Number - 1)] = -1;
    ShowMarkers();
    Repaint();
}

void TMeasureTools::MarkersOffClick()
{
    FRecipe.RemoveMarkers();
    FPlacedHz.fill(-1);
    ShowMarkers();
    Repaint();
}

void TMeasureTools::ClearTracesClick()
{
    FRecipe.ClearHolds();
    ShowHoldTraces();
    Repaint();
}

bool TMeasureTools::MarkerPlaced(int Number) const
{
    return MarkerOf(Number).Placed;
}

double TMeasureTools::MarkerBin(int Number) const
{
    return MarkerPlaced(Number) ? MarkerOf(Number).Bin : 0.0;
}

void TMeasureTools::ShowHoldTraces()
{
    TDXHistograph* histo = FForm.Histo;
    const int n = Bins();
    const quillex::THoldTraces& holds = FRecipe.Holds();
    const bool ready = holds.Bins() == n && holds.Frames() > 0;
    const QCheckBox* boxes[] = {CBMaxHold, CBMinHold, CBAverage};
    int highest = 1;
    for (int s = MaxSeries; s <= AverageSeries; ++s)
        if (boxes[s - MaxSeries]->isChecked())
            highest = s;
    // The limits' series lie above the holds': the holds not shown then get no data.
    const int limits = FForm.Limits->HighestSeries();
    histo->setSeriesNumber(std::max(highest, limits));
    if (limits > highest)
        for (int s = std::max(highest + 1, MaxSeries); s <= AverageSeries; ++s)
            histo->AssignSeriesData(nullptr, 0, s);
    if (highest == 1)
        return;
    // Only the span (and the view, should it reach beyond) is converted to levels: the plot
    // draws nothing else, and the whole spectrum would cost up to eight times as much.
    const double binKHz = SpectrumKHz / n;
    const int start = FForm.ViewStartBin;
    const int end = start + int(FForm.WaterfallLine.size());
    const int first = std::clamp(
        std::min(start, int(std::floor(histo->ViewXCurrentMin() / binKHz))) - SpanMargin, 0, n);
    const int last = std::clamp(
        std::max(end, int(std::ceil(histo->ViewXCurrentMax() / binKHz)) + 1) + SpanMargin, first,
        n);
    static constexpr quillex::THoldTrace traces[] = {
        quillex::THoldTrace::Max, quillex::THoldTrace::Min, quillex::THoldTrace::Average};
    for (int s = MaxSeries; s <= highest; ++s) {
        const int i = s - MaxSeries;
        float* levels = FHoldLevels[size_t(i)].data();
        const bool shown = ready && boxes[i]->isChecked();
        if (shown)
            holds.Levels(traces[i], levels + first, first, last - first,
                         FForm.CBInverted->isChecked());
        histo->AssignSeriesData(levels, shown ? n : 0, s);
    }
}

void TMeasureTools::ShowMarkers()
{
    if (Readout == nullptr)
        return;
    const int n = Bins();
    const bool inverted = FForm.CBInverted->isChecked();
    for (int i = 0; i < MarkerCount; ++i) {
        const quillex::TFrameMarker& m = MarkerOf(i + 1);
        if (!m.Placed) {
            FForm.Histo->HideMarker(i + 1);
            continue;
        }
        const double shown = quillex::DisplayedBin(m.Bin, n, inverted);
        FForm.Histo->SetMarker(i + 1, float(shown * SpectrumKHz / n),
                               float(quillex::LevelFromMagnitude(m.Magnitude)),
                               MarkerColors[size_t(i)]);
    }
    // The read-out holds markers 1 and 2; the others are in the table.
    const bool any = MarkerPlaced(1) || MarkerPlaced(2);
    if (any)
        Readout->SetTexts(ReadoutTexts());
    Readout->setVisible(any);
    ShowTable();
    if (OnMarkersShown)
        OnMarkersShown();
}

quillex::TMarkerReading TMeasureTools::Reading(int Number) const
{
    if (!MarkerPlaced(Number))
        return {};
    const quillex::TFrameMarker& m = MarkerOf(Number);
    const int n = Bins();
    return {true,
            quillex::DisplayedMHz(quillex::DisplayedBin(m.Bin, n, FForm.CBInverted->isChecked()), n,
                                  FForm.FreqOffset),
            quillex::LevelFromMagnitude(m.Magnitude) + FForm.LevelOffset};
}

QString TMeasureTools::MarkerText(int Number, const quillex::TMarkerReading& Reading) const
{
    static const char* const traceNames[] = {"", "max", "min", "average"};
    QString text = QStringLiteral("M%1 ").arg(Number);
    if (MarkerTrace() != trLive)
        text += QStringLiteral("[%1] ").arg(QLatin1String(traceNames[MarkerTrace()]));
    const double axisKHz = (Reading.MHz - FForm.FreqOffset) * 1000.0;
    const int side = quillex::SideOfView(axisKHz, FForm.Histo->ViewXCurrentMin(),
                                         FForm.Histo->ViewXCurrentMax());
    if (side != 0)
        text += side < 0 ? QStringLiteral("< ") : QStringLiteral("> ");
    return text + Fixed("", quillex::MarkerFrequencyDecimals(Bins()), Reading.MHz, "MHz") +
           QStringLiteral("  ") + Fixed("", 2, Reading.Dbm, "dBm");
}

QStringList TMeasureTools::ReadoutTexts() const
{
    const int decimals = quillex::MarkerFrequencyDecimals(Bins());
    const quillex::TMarkerReading first = Reading(1), second = Reading(2);
    QStringList texts;
    for (const auto& [number, reading] : {std::pair{1, first}, std::pair{2, second}})
        if (reading.Placed)
            texts << MarkerText(number, reading);
    if (const quillex::TMarkerDelta delta = quillex::DeltaTo(second, first); delta.Valid)
        texts << QStringLiteral("M2-M1 ") +
                     Fixed("+", std::max(decimals - 3, 0), delta.KHz, "kHz") +
                     QStringLiteral("  ") + Fixed("+", 2, delta.Db, "dB");
    if (!FRbwText.isEmpty())
        texts << FRbwText;
    return texts;
}

void TMeasureTools::ShowTable()
{
    if (FTable == nullptr || !FTable->isVisible())
        return;
    const int decimals = quillex::MarkerFrequencyDecimals(Bins());
    std::array<quillex::TMarkerReading, MarkerCount> readings;
    for (int i = 1; i <= MarkerCount; ++i)
        readings[size_t(i - 1)] = Reading(i);
    const quillex::TMarkerReading& reference = readings[size_t(FReference - 1)];
    for (int i = 1; i <= MarkerCount; ++i) {
        const quillex::TMarkerReading& r = readings[size_t(i - 1)];
        if (!r.Placed) {
            FTable->SetRow(i, {});
            continue;
        }
        QStringList texts{Fixed("", decimals, r.MHz, ""), Fixed("", 2, r.Dbm, "")};
        if (i == FReference)
            texts << QStringLiteral("ref") << QStringLiteral("ref");
        else if (const quillex::TMarkerDelta d = quillex::DeltaTo(r, reference); d.Valid)
            texts << Fixed("+", std::max(decimals - 3, 0), d.KHz, "") << Fixed("+", 2, d.Db, "");
        FTable->SetRow(i, texts);
    }
}

QString TMeasureTools::KeysHint() const
{
    const auto keys = [](const QAction* Action) {
        return Action->shortcut().toString(QKeySequence::NativeText);
    };
    return QStringLiteral(
               "Markers: %1 puts marker 1 on the highest peak of the visible span, %2 and %3 "
               "move it to the next peak on that side, %4 to the next lower peak; with Shift "
               "(%5, %6, %7, %8) the same for marker 2, whose difference to marker 1 is shown "
               "too. Ctrl+click puts marker 1 on the peak nearest the place (Ctrl+Shift+click "
               "marker 2). The plot's context menu has them as well, with \"%9\", \"%10\" "
               "and the table of six markers, \"%11\".")
        .arg(keys(ActPeak), keys(ActNextPeakLeft), keys(ActNextPeakRight), keys(ActNextLower),
             keys(ActPeak2), keys(ActNextPeakLeft2), keys(ActNextPeakRight2), keys(ActNextLower2),
             ActMarkerHere->text())
        .arg(ActMarkerToFrequency->text(), ActMarkerTable->text());
}

void TMeasureTools::Repaint()
{
    // A running loop repaints with its next frame anyway; stopped, this shows the change.
    FForm.Histo->RefreshData();
}

std::array<int, 5> TMeasureTools::CurrentSettings() const
{
    return {CBMaxHold->isChecked() ? 1 : 0, CBMinHold->isChecked() ? 1 : 0,
            CBAverage->isChecked() ? 1 : 0, SEAverageFrames->value(), int(MarkerTrace())};
}

void TMeasureTools::LoadSettings(const TIniFile* Ini)
{
    const auto read = [Ini](const char* Key, int Default) {
        return Ini ? Ini->ReadInteger(SettingsSection, Key, Default) : Default;
    };
    CBMaxHold->setChecked(read("MaxHold", 0) != 0);
    CBMinHold->setChecked(read("MinHold", 0) != 0);
    CBAverage->setChecked(read("Average", 0) != 0);
    SEAverageFrames->setValue(read("AverageFrames", DefaultAverageFrames));
    const int trace = read("MarkerTrace", trLive);
    CBMarkerTrace->setCurrentIndex(trace >= trLive && trace <= trAverage ? trace : trLive);
    FSnapshot = CurrentSettings();

    // The markers where the user left them, on the spectrum's own frequencies (Hz): they read
    // what the trace shows there from the next frame on, and keep their frequency through a
    // change of the FFT size from here.
    const int n = Bins();
    FRecipe.RemoveMarkers();
    for (int i = 1; i <= MarkerCount; ++i) {
        const std::string key = "Marker" + std::to_string(i);
        const int hz = Ini ? Ini->ReadInteger(MarkersSection, key, -1) : -1;
        const bool placed = hz >= 0 && hz < int(SpectrumKHz * 1000.0) && n > 0;
        if (placed)
            FRecipe.PlaceMarker(i, {std::min(hz / 1000.0 * n / SpectrumKHz, double(n - 1)), 0});
        FPlacedHz[size_t(i - 1)] = placed ? hz : -1;
    }
    const int reference = Ini ? Ini->ReadInteger(MarkersSection, "Reference", 1) : 1;
    FReference = reference >= 1 && reference <= MarkerCount ? reference : 1;
    if (FTable)
        FTable->SetReference(FReference);
    FMarkerSnapshot = MarkerSettings();
    ShowMarkers();
}

std::array<int, TMeasureTools::MarkerCount + 1> TMeasureTools::MarkerSettings() const
{
    std::array<int, MarkerCount + 1> settings{};
    std::copy(FPlacedHz.begin(), FPlacedHz.end(), settings.begin());
    settings[MarkerCount] = FReference;
    return settings;
}

void TMeasureTools::SaveSettings(TIniFile& Ini) const
{
    const std::array<int, 5> current = CurrentSettings();
    const char* const keys[] = {"MaxHold", "MinHold", "Average", "AverageFrames", "MarkerTrace"};
    for (std::size_t i = 0; i < current.size(); ++i)
        Ini.WriteInteger(SettingsSection, keys[i], current[i]);
    for (int i = 1; i <= MarkerCount; ++i)
        Ini.WriteInteger(MarkersSection, "Marker" + std::to_string(i), FPlacedHz[size_t(i - 1)]);
    Ini.WriteInteger(MarkersSection, "Reference", FReference);
}

bool TMeasureTools::SettingsChanged() const
{
    return CurrentSettings() != FSnapshot || MarkerSettings() != FMarkerSnapshot;
}
