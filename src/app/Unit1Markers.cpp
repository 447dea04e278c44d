// Markers that measure peaks, their read-out and the hold traces of the main window.

#include "Unit1Markers.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "IniFileU.h"
#include "MarkerPosition.h"
#include "MarkerReadout.h"
#include "Unit1.h"
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
    std::snprintf(format, sizeof format, "%%%s0.%df %s", Sign, Decimals, Unit);
    return LocalFormat(format, Rounded(Value, Decimals));
}

} // namespace

TMeasureTools::TMeasureTools(TForm1& Form) : FForm(Form)
{
    for (std::vector<float>& levels : FHoldLevels)
        levels.assign(TForm1::SpectrumCapacity, 0.0f);
}

TMeasureTools::~TMeasureTools() = default;

int TMeasureTools::Bins() const
{
    return static_cast<int>(FForm.FFT->Size());
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
        auto* a = new QAction(Text, &FForm);
        a->setObjectName(QLatin1String(Name));
        a->setShortcut(Keys);
        // Only while the window is active, and never when a text field wants the key: Qt asks
        // the focused field first, and the fields take typed letters and Ctrl+arrows.
        a->setShortcutContext(Qt::WindowShortcut);
        FForm.addAction(a);
        return a;
    };
    ActPeak = action(QStringLiteral("Peak"), "ActPeak", QKeySequence(Qt::Key_P));
    ActNextPeakLeft = action(QStringLiteral("Next peak left"), "ActNextPeakLeft",
                             QKeySequence(Qt::CTRL | Qt::Key_Left));
    ActNextPeakRight = action(QStringLiteral("Next peak right"), "ActNextPeakRight",
                              QKeySequence(Qt::CTRL | Qt::Key_Right));
    ActPeak2 = action(QStringLiteral("Peak"), "ActPeak2", QKeySequence(Qt::SHIFT | Qt::Key_P));
    ActNextPeakLeft2 = action(QStringLiteral("Next peak left"), "ActNextPeakLeft2",
                              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Left));
    ActNextPeakRight2 = action(QStringLiteral("Next peak right"), "ActNextPeakRight2",
                               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Right));
    ActMarkersOff = action(QStringLiteral("Markers off"), "ActMarkersOff", QKeySequence());

    QMenu* menu = FForm.HistoMenu;
    menu->addSeparator();
    menu->addAction(ActPeak);
    menu->addAction(ActNextPeakLeft);
    menu->addAction(ActNextPeakRight);
    QMenu* second = menu->addMenu(QStringLiteral("Marker 2"));
    second->setObjectName(QStringLiteral("HistoMenuMarker2"));
    second->addAction(ActPeak2);
    second->addAction(ActNextPeakLeft2);
    second->addAction(ActNextPeakRight2);
    menu->addAction(ActMarkersOff);

    const auto on = [this](QAction* Action, auto Handler) {
        QObject::connect(Action, &QAction::triggered, &FForm,
                         [this, Handler] { FForm.Guard([&] { Handler(); }); });
    };
    on(ActPeak, [this] { PeakClick(1); });
    on(ActNextPeakLeft, [this] { NextPeakClick(1, true); });
    on(ActNextPeakRight, [this] { NextPeakClick(1, false); });
    on(ActPeak2, [this] { PeakClick(2); });
    on(ActNextPeakLeft2, [this] { NextPeakClick(2, true); });
    on(ActNextPeakRight2, [this] { NextPeakClick(2, false); });
    on(ActMarkersOff, [this] { MarkersOffClick(); });
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
    QObject::connect(SEAverageFrames, &QSpinBox::valueChanged, &FForm, [this](int Frames) {
        FForm.Guard([this, Frames] {
            if (FHolds.Bins() > 0)
                FHolds.SetDepth(Frames);
            ShowHoldTraces();
            Repaint();
        });
    });
    QObject::connect(CBMarkerTrace, &QComboBox::currentIndexChanged, &FForm,
                     [this] { FForm.Guard([this] { MarkerTraceChosen(); }); });
    QObject::connect(BtnClearTraces, &QToolButton::clicked, &FForm,
                     [this] { FForm.Guard([this] { ClearTracesClick(); }); });
    return GBTraces;
}

void TMeasureTools::Connect()
{
    // Holds gathered under another window, averaging or mirroring are cleared at once, not
    // only with the next frame (offsets and the FFT size come through ViewChanged).
    const auto check = [this] {
        FForm.Guard([this] {
            CheckConfiguration();
            Repaint();
        });
    };
    QObject::connect(FForm.RGFenster, &TRadioGroup::Click, &FForm, check);
    QObject::connect(FForm.SEAvg, &QSpinBox::valueChanged, &FForm, check);
    QObject::connect(FForm.CBInverted, &QCheckBox::toggled, &FForm, check);
}

TMeasureTools::TConfiguration TMeasureTools::CurrentConfiguration() const
{
    return {Bins(),
            FForm.FFT->LeakFunction(),
            FForm.SEAvg->value(),
            FForm.CBInverted->isChecked(),
            FForm.FreqOffset,
            FForm.LevelOffset};
}

bool TMeasureTools::HoldsRunning() const
{
    return CBMaxHold->isChecked() || CBMinHold->isChecked() || CBAverage->isChecked();
}

void TMeasureTools::CheckConfiguration()
{
    const TConfiguration now = CurrentConfiguration();
    if (FConfigurationKnown && now == FConfiguration)
        return;
    // A marker keeps its frequency through a change of the FFT size.
    if (FConfigurationKnown && now.N != FConfiguration.N && FConfiguration.N > 0)
        for (TMarker& m : FMarkers)
            m.Bin = std::clamp(m.Bin * now.N / FConfiguration.N, 0.0, double(now.N - 1));
    FConfiguration = now;
    FConfigurationKnown = true;
    const double rbw = quillex::ResolutionBandwidthKHz(*FForm.FFT);
    FRbwText = std::isfinite(rbw) ? QStringLiteral("RBW ") + Fixed("", 1, rbw, "kHz") : QString();
    if (HoldsRunning())
        FHolds.Configure(now.N, SEAverageFrames->value());
    else
        FHolds.Configure(0, SEAverageFrames->value());
    ShowHoldTraces();
    ShowMarkers();
}

void TMeasureTools::TracesSwitched()
{
    if (!HoldsRunning())
        FHolds.Configure(0, SEAverageFrames->value()); // nothing gathered in between is shown
    else if (FHolds.Bins() != Bins())
        FHolds.Configure(Bins(), SEAverageFrames->value());
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
    const float* magnitudes = TraceMagnitudes();
    for (TMarker& m : FMarkers)
        if (m.Placed)
            Follow(m, magnitudes);
    ShowMarkers();
    Repaint();
}

TMeasureTools::TTrace TMeasureTools::MarkerTrace() const
{
    const int index = CBMarkerTrace->currentIndex();
    return index >= trLive && index <= trAverage ? TTrace(index) : trLive;
}

const float* TMeasureTools::TraceMagnitudes() const
{
    if (FHolds.Bins() != Bins())
        return FForm.AvgSpectrum.data();
    switch (MarkerTrace()) {
    case trMax:
        return FHolds.Max();
    case trMin:
        return FHolds.Min();
    case trAverage:
        return FHolds.Average();
    default:
        return FForm.AvgSpectrum.data();
    }
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
    CheckConfiguration();
    if (HoldsRunning() && FHolds.Bins() == Bins())
        FHolds.Add(FForm.AvgSpectrum.data());
    const float* magnitudes = TraceMagnitudes();
    for (TMarker& m : FMarkers)
        if (m.Placed)
            Follow(m, magnitudes);
    ShowHoldTraces();
    ShowMarkers();
}

void TMeasureTools::ViewChanged()
{
    CheckConfiguration();
    ShowHoldTraces();
    ShowMarkers();
}

void TMeasureTools::Follow(TMarker& Marker, const float* Magnitudes)
{
    const int n = Bins();
    const TDXLeakType window = FForm.FFT->LeakFunction();
    quillex::TPeak peak;
    if (quillex::TrackPeak(Magnitudes, n, window, Marker.Bin, peak)) {
        Marker.Bin = peak.Bin;
        Marker.Magnitude = peak.Magnitude;
        return;
    }
    // No peak by the search's rules near it (a weak carrier, or one that has gone): the marker
    // stays and reads what is there, the tone's level where its bin is still a local maximum.
    const int k = std::clamp(int(std::lround(Marker.Bin)), 0, n - 1);
    const bool localMaximum = k >= 1 && k <= n - 2 && Magnitudes[k] > Magnitudes[k - 1] &&
                              Magnitudes[k] >= Magnitudes[k + 1];
    Marker.Magnitude = localMaximum ? quillex::InterpolatePeak(Magnitudes, n, k, window).Magnitude
                                    : double(Magnitudes[k]);
}

void TMeasureTools::Place(int Number, const quillex::TPeak& Peak)
{
    TMarker& m = FMarkers[size_t(Number - 1)];
    m.Placed = true;
    m.Bin = Peak.Bin;
    m.Magnitude = Peak.Magnitude;
    ShowMarkers();
    Repaint();
}

void TMeasureTools::PeakClick(int Number)
{
    if (Number < 1 || Number > MarkerCount)
        return;
    CheckConfiguration();
    const int n = Bins();
    const TDXLeakType window = FForm.FFT->LeakFunction();
    const float* magnitudes = TraceMagnitudes();
    int first, last;
    VisibleBins(first, last);
    quillex::TPeak peak;
    if (FSearch.Strongest(magnitudes, n, window, first, last, 0.0, 1, &peak) == 1) {
        Place(Number, peak);
        return;
    }
    // Nothing stands out by the search's rules (a weak carrier on its own): the highest local
    // maximum of the span is what the user points at.
    int best = -1;
    for (int k = std::max(first, 1); k <= std::min(last, n - 2); ++k)
        if (magnitudes[k] > magnitudes[k - 1] && magnitudes[k] >= magnitudes[k + 1] &&
            (best < 0 || magnitudes[k] > magnitudes[best]))
            best = k;
    if (best >= 0)
        Place(Number, quillex::InterpolatePeak(magnitudes, n, best, window));
}

void TMeasureTools::NextPeakClick(int Number, bool Left)
{
    if (Number < 1 || Number > MarkerCount)
        return;
    const TMarker& m = FMarkers[size_t(Number - 1)];
    if (!m.Placed) {
        PeakClick(Number);
        return;
    }
    CheckConfiguration();
    const int n = Bins();
    const TDXLeakType window = FForm.FFT->LeakFunction();
    const float* magnitudes = TraceMagnitudes();
    int first, last;
    VisibleBins(first, last);
    // With the spectrum mirrored the display's left holds the higher physical bins.
    const bool lowerBins = Left != FForm.CBInverted->isChecked();
    quillex::TPeak peak;
    const bool found =
        lowerBins
            ? quillex::NextPeakLeft(magnitudes, n, window, m.Bin, m.Magnitude, first, last, peak)
            : quillex::NextPeakRight(magnitudes, n, window, m.Bin, m.Magnitude, first, last, peak);
    if (found)
        Place(Number, peak);
}

void TMeasureTools::MarkersOffClick()
{
    for (TMarker& m : FMarkers)
        m.Placed = false;
    ShowMarkers();
    Repaint();
}

void TMeasureTools::ClearTracesClick()
{
    if (FHolds.Bins() > 0)
        FHolds.Clear();
    ShowHoldTraces();
    Repaint();
}

bool TMeasureTools::MarkerPlaced(int Number) const
{
    return Number >= 1 && Number <= MarkerCount && FMarkers[size_t(Number - 1)].Placed;
}

double TMeasureTools::MarkerBin(int Number) const
{
    return MarkerPlaced(Number) ? FMarkers[size_t(Number - 1)].Bin : 0.0;
}

void TMeasureTools::ShowHoldTraces()
{
    TDXHistograph* histo = FForm.Histo;
    const int n = Bins();
    const bool ready = FHolds.Bins() == n && FHolds.Frames() > 0;
    const QCheckBox* boxes[] = {CBMaxHold, CBMinHold, CBAverage};
    int highest = 1;
    for (int s = MaxSeries; s <= AverageSeries; ++s)
        if (boxes[s - MaxSeries]->isChecked())
            highest = s;
    histo->setSeriesNumber(highest);
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
            FHolds.Levels(traces[i], levels + first, first, last - first,
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
    bool any = false;
    for (int i = 0; i < MarkerCount; ++i) {
        const TMarker& m = FMarkers[size_t(i)];
        if (!m.Placed) {
            FForm.Histo->HideMarker(i + 1);
            continue;
        }
        any = true;
        const double shown = quillex::DisplayedBin(m.Bin, n, inverted);
        FForm.Histo->SetMarker(i + 1, float(shown * SpectrumKHz / n),
                               float(quillex::LevelFromMagnitude(m.Magnitude)),
                               MarkerColors[size_t(i)]);
    }
    if (any)
        Readout->SetTexts(ReadoutTexts());
    Readout->setVisible(any);
}

QStringList TMeasureTools::ReadoutTexts() const
{
    const int n = Bins();
    const bool inverted = FForm.CBInverted->isChecked();
    const int decimals = quillex::MarkerFrequencyDecimals(n);
    std::array<double, MarkerCount> mhz{}, dbm{};
    QStringList texts;
    for (int i = 0; i < MarkerCount; ++i) {
        const TMarker& m = FMarkers[size_t(i)];
        if (!m.Placed)
            continue;
        mhz[size_t(i)] =
            quillex::DisplayedMHz(quillex::DisplayedBin(m.Bin, n, inverted), n, FForm.FreqOffset);
        dbm[size_t(i)] = quillex::LevelFromMagnitude(m.Magnitude) + FForm.LevelOffset;
        texts << QStringLiteral("M%1 ").arg(i + 1) + Fixed("", decimals, mhz[size_t(i)], "MHz") +
                     QStringLiteral("  ") + Fixed("", 2, dbm[size_t(i)], "dBm");
    }
    if (FMarkers[0].Placed && FMarkers[1].Placed)
        texts << QStringLiteral("M2-M1 ") +
                     Fixed("+", std::max(decimals - 3, 0), (mhz[1] - mhz[0]) * 1000.0, "kHz") +
                     QStringLiteral("  ") + Fixed("+", 2, dbm[1] - dbm[0], "dB");
    if (!FRbwText.isEmpty())
        texts << FRbwText;
    return texts;
}

QString TMeasureTools::KeysHint() const
{
    const auto keys = [](const QAction* Action) {
        return Action->shortcut().toString(QKeySequence::NativeText);
    };
    return QStringLiteral("Markers: %1 puts marker 1 on the highest peak of the visible span, %2 "
                          "and %3 move it to the nearest lower peak on that side; with Shift "
                          "(%4, %5, %6) the same for marker 2, whose difference to marker 1 "
                          "is shown too. The plot's context menu has them as well, and \"%7\".")
        .arg(keys(ActPeak), keys(ActNextPeakLeft), keys(ActNextPeakRight), keys(ActPeak2),
             keys(ActNextPeakLeft2), keys(ActNextPeakRight2), ActMarkersOff->text());
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
}

void TMeasureTools::SaveSettings(TIniFile& Ini) const
{
    const std::array<int, 5> current = CurrentSettings();
    const char* const keys[] = {"MaxHold", "MinHold", "Average", "AverageFrames", "MarkerTrace"};
    for (std::size_t i = 0; i < current.size(); ++i)
        Ini.WriteInteger(SettingsSection, keys[i], current[i]);
}

bool TMeasureTools::SettingsChanged() const
{
    return CurrentSettings() != FSnapshot;
}
