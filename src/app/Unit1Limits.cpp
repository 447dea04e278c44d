// Limit curves of the main window: made from the trace or a level, bent on the plot, saved,
// loaded, and their settings.

#include "Unit1Limits.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QToolButton>
#include <QWidgetAction>
#include <cmath>
#include <stdexcept>

#include "IniFileU.h"
#include "LimitFile.h"
#include "Unit1.h"
#include "dxHisto.h"

using quillex::TLimitKind;

namespace {

const QString LimitsFilter = QStringLiteral("Limits (*.csv)|*.csv|All files|*");

QString KindName(TLimitKind Kind)
{
    return Kind == TLimitKind::Upper ? QStringLiteral("upper") : QStringLiteral("lower");
}

} // namespace

TLimitTools::TLimitTools(TForm1& Form)
    : FForm(Form), FRecipe(Form.Recipe), FRecording(Form.Recording)
{
    FWarning.assign(TForm1::SpectrumCapacity, 0.0f);
    FMask.assign(TForm1::SpectrumCapacity, 0);
}

TLimitTools::~TLimitTools() = default;

void TLimitTools::StyleSeries()
{
    TDXHistograph* histo = FForm.Histo;
    const int shown = histo->SeriesNumber();
    const int current = histo->SeriesCurrent();
    histo->setSeriesNumber(WarningSeries);
    const struct
    {
        int Series;
        TDXDataKind Kind;
        TColor Color;
    } series[] = {{UpperSeries, dtUpperRef, LimitColor},
                  {LowerSeries, dtLowerRef, LimitColor},
                  {WarningSeries, dtData, WarningColor}};
    for (const auto& s : series) {
        histo->setSeriesCurrent(s.Series);
        histo->setSeriesStyle(s.Kind);
        histo->setSeriesColor(s.Color);
    }
    histo->setSeriesCurrent(current);
    histo->setSeriesNumber(shown);
}

void TLimitTools::BuildMenu()
{
    TDXHistograph* histo = FForm.Histo;
    StyleSeries();
    histo->OnReferenceBent = [this](QObject*, int Series) {
        FForm.Guard([this, Series] { ReferenceBent(Series); });
    };
    histo->OnNoReference = [this](QObject*, TDXHistographInt::TDXMode Mode) { NoReference(Mode); };

    const auto action = [this](const char* Text, const char* Name, auto Handler) {
        auto* a = new QAction(QLatin1String(Text), &FForm);
        a->setObjectName(QLatin1String(Name));
        QObject::connect(a, &QAction::triggered, &FForm,
                         [this, Handler] { FForm.Guard([this, Handler] { Handler(this); }); });
        return a;
    };
    ActUpperFromTrace = action("Upper limit from trace", "ActUpperFromTrace",
                               [](TLimitTools* T) { T->FromTraceClick(TLimitKind::Upper); });
    ActLowerFromTrace = action("Lower limit from trace", "ActLowerFromTrace",
                               [](TLimitTools* T) { T->FromTraceClick(TLimitKind::Lower); });
    ActFlatLimit = action("Flat limit at level...", "ActFlatLimit",
                          [](TLimitTools* T) { T->FlatLimitClick(); });
    ActClearLimits =
        action("Clear limits", "ActClearLimits", [](TLimitTools* T) { T->ClearLimitsClick(); });
    ActSaveLimits =
        action("Save limits...", "ActSaveLimits", [](TLimitTools* T) { T->SaveLimitsClick(); });
    ActLoadLimits =
        action("Load limits...", "ActLoadLimits", [](TLimitTools* T) { T->LoadLimitsClick(); });
    QMenu* menu = FForm.HistoMenu;
    menu->addSeparator();
    for (QAction* a : {ActUpperFromTrace, ActLowerFromTrace, ActFlatLimit, ActClearLimits})
        menu->addAction(a);
    menu->addSeparator();
    menu->addAction(ActSaveLimits);
    menu->addAction(ActLoadLimits);
}

QToolButton* TLimitTools::BuildLimitsButton(QWidget* Parent)
{
    BtnLimits = new QToolButton(Parent);
    BtnLimits->setObjectName(QStringLiteral("BtnLimits"));
    BtnLimits->setText(QStringLiteral("Limits"));
    BtnLimits->setToolTip(QStringLiteral("Limit offsets, hold-off, event log, record on alarm"));
    BtnLimits->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    BtnLimits->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(BtnLimits);
    menu->setObjectName(QStringLiteral("LimitsMenu"));
    auto* group = new QWidgetAction(menu);
    group->setDefaultWidget(BuildLimitsGroup());
    menu->addAction(group);
    BtnLimits->setMenu(menu);
    return BtnLimits;
}

QGroupBox* TLimitTools::BuildLimitsGroup()
{
    GBLimits = new QGroupBox(QStringLiteral("Limits"));
    GBLimits->setObjectName(QStringLiteral("GBLimits"));
    auto* grid = new QGridLayout(GBLimits);
    grid->setContentsMargins(2, 1, 2, 1);
    grid->setSpacing(1);
    const auto spin = [this](const char* Name, double Min, double Max, double Value,
                             const char* Suffix, const char* Tip, int Decimals = 1) {
        auto* box = new QDoubleSpinBox(GBLimits);
        box->setObjectName(QLatin1String(Name));
        box->setRange(Min, Max);
        box->setDecimals(Decimals);
        box->setValue(Value);
        box->setSuffix(QLatin1String(Suffix));
        box->setToolTip(QLatin1String(Tip));
        return box;
    };
    SEUpperOffset = spin("SEUpperOffset", 0, 100, DefaultOffsetDb, " dB",
                         "Upper limit from trace: this much above it");
    SELowerOffset = spin("SELowerOffset", 0, 100, DefaultOffsetDb, " dB",
                         "Lower limit from trace: this much below it");
    SEHoldOff = spin("SEHoldOff", 0, 3600, quillex::TLimitEpisodes::DefaultHoldOffSeconds, " s",
                     "An alarm ends when this long passes without a frame beyond a limit", 2);
    CBEventLog = new QCheckBox(QStringLiteral("Event log"), GBLimits);
    CBEventLog->setObjectName(QStringLiteral("CBEventLog"));
    CBEventLog->setToolTip(QStringLiteral("Append every alarm to a CSV file"));
    CBRecordOnAlarm = new QCheckBox(QStringLiteral("Record on alarm"), GBLimits);
    CBRecordOnAlarm->setObjectName(QStringLiteral("CBRecordOnAlarm"));
    CBRecordOnAlarm->setToolTip(QStringLiteral("A recording of every alarm, in a folder"));
    SEPreSeconds =
        spin("SEPreSeconds", 0, 60, DefaultPreSeconds, " s", "Recorded before an alarm", 2);
    SEPostSeconds = spin("SEPostSeconds", 0, 600, DefaultPostSeconds, " s", "Recorded after it", 2);
    const auto row = [this, grid](int Row, const char* Label, QWidget* Field) {
        auto* label = new QLabel(QLatin1String(Label), GBLimits);
        label->setBuddy(Field);
        grid->addWidget(label, Row, 0);
        grid->addWidget(Field, Row, 1);
    };
    row(0, "Above", SEUpperOffset);
    row(1, "Below", SELowerOffset);
    row(2, "Hold-off", SEHoldOff);
    grid->addWidget(CBEventLog, 3, 0, 1, 2);
    grid->addWidget(CBRecordOnAlarm, 4, 0, 1, 2);
    row(5, "Before", SEPreSeconds);
    row(6, "After", SEPostSeconds);

    QObject::connect(SEHoldOff, &QDoubleSpinBox::valueChanged, &FForm,
                     [this](double Seconds) { FRecipe.SetHoldOffSeconds(Seconds); });
    QObject::connect(CBEventLog, &QCheckBox::clicked, &FForm,
                     [this](bool On) { FForm.Guard([this, On] { EventLogToggled(On); }); });
    QObject::connect(CBRecordOnAlarm, &QCheckBox::clicked, &FForm,
                     [this](bool On) { FForm.Guard([this, On] { RecordOnAlarmToggled(On); }); });
    for (QDoubleSpinBox* box : {SEPreSeconds, SEPostSeconds})
        QObject::connect(box, &QDoubleSpinBox::valueChanged, &FForm, [this] {
            // A recording under way keeps the seconds it began with.
            if (FRecording.Alarms().Active() && !FRecording.Alarms().Recording())
                FForm.Guard([this] { FRecording.StartAlarms(RecorderSettings()); });
        });
    return GBLimits;
}

const quillex::TLimits& TLimitTools::Limits() const
{
    return FRecipe.LimitCheck().Limits();
}

int TLimitTools::HighestSeries() const
{
    return Limits().Upper.Empty() && Limits().Lower.Empty() && !FWarningShown ? 1 : WarningSeries;
}

void TLimitTools::SetLimits(const quillex::TLimits& Limits)
{
    FRecipe.SetLimits(Limits);
    ShowCurves();
    Repaint();
}

void TLimitTools::ShowCurves()
{
    StyleSeries();
    TDXHistograph* histo = FForm.Histo;
    const quillex::TLimitCheck& check = FRecipe.LimitCheck();
    const int n = check.Grid().N;
    FShownGrid = check.Grid();
    if (HighestSeries() > histo->SeriesNumber())
        histo->setSeriesNumber(HighestSeries());
    if (histo->SeriesNumber() < LowerSeries)
        return;
    for (TLimitKind kind : {TLimitKind::Upper, TLimitKind::Lower}) {
        const bool shown = !Limits().Curve(kind).Empty();
        // Reference data is copied by the plot: the check's own values stay as they were made.
        histo->AssignSeriesData(const_cast<float*>(check.Displayed(kind)), shown ? n : 0,
                                kind == TLimitKind::Upper ? UpperSeries : LowerSeries);
    }
}

void TLimitTools::ViewChanged()
{
    if (FRecipe.LimitCheck().Grid() == FShownGrid)
        return;
    ShowCurves();
    Repaint();
}

void TLimitTools::Repaint()
{
    FForm.Histo->RefreshData();
}

void TLimitTools::FromTraceClick(TLimitKind Kind)
{
    const quillex::TLimitGrid& grid = FRecipe.LimitCheck().Grid();
    const int n = grid.N;
    // Before the first frame at this FFT size there is no trace to follow, only zeros.
    if (FTraceBins != n) {
        FForm.StatusBar->showMessage(
            QStringLiteral("no trace yet: start a run or play a recording first"), 10000);
        return;
    }
    // The hold of that side while it is shown, otherwise the live trace.
    const bool upper = Kind == TLimitKind::Upper;
    const quillex::THoldTraces& holds = FRecipe.Holds();
    const bool hold = (upper ? FRecipe.HoldSwitches().Max : FRecipe.HoldSwitches().Min) &&
                      holds.Bins() == n && holds.Frames() > 0;
    std::vector<float> levels(FRecipe.Levels(), FRecipe.Levels() + n);
    if (hold)
        holds.Levels(upper ? quillex::THoldTrace::Max : quillex::THoldTrace::Min, levels.data(), 0,
                     n, grid.Inverted);
    quillex::TLimits limits = Limits();
    limits.Curve(Kind) = quillex::CurveFromTrace(
        grid, levels.data(), 0, n, upper ? SEUpperOffset->value() : -SELowerOffset->value());
    SetLimits(limits);
    FCurvesUnsaved = true;
}

void TLimitTools::FlatLimitClick()
{
    // The lower curve while it is the one being bent, otherwise the upper.
    const TLimitKind kind =
        FForm.Histo->Mode() == modeLowerRef ? TLimitKind::Lower : TLimitKind::Upper;
    // Offered: a level a quarter down the plot, as displayed.
    const TDXHistograph* histo = FForm.Histo;
    const double start = histo->ViewYMax() - (histo->ViewYMax() - histo->ViewYMin()) / 4.0;
    const std::optional<double> level = FForm.Prompts().AskNumber(
        (kind == TLimitKind::Upper ? QStringLiteral("Upper") : QStringLiteral("Lower")) +
            QStringLiteral(" limit (dBm):"),
        std::round(start + FForm.LevelOffset), 1);
    if (!level || !std::isfinite(*level))
        return;
    if (*level < quillex::LowestLimitDbm || *level > quillex::HighestLimitDbm) {
        FForm.StatusBar->showMessage(QStringLiteral("a limit lies between -300 and +100 dBm"),
                                     10000);
        return;
    }
    quillex::TLimits limits = Limits();
    limits.Curve(kind) = quillex::FlatCurve(*level);
    SetLimits(limits);
    FCurvesUnsaved = true;
}

void TLimitTools::ClearLimitsClick()
{
    SetLimits({});
    // Forgotten too, so they do not come back at the next start.
    FLimitsFile.clear();
    FCurvesUnsaved = false;
}

void TLimitTools::SaveLimitsClick()
{
    const QString name =
        FForm.Prompts().SaveFileName(FForm.StartDir, QStringLiteral("csv"), LimitsFilter);
    if (name.isEmpty())
        return;
    WriteCurves(name);
}

void TLimitTools::WriteCurves(const QString& FileName)
{
    try {
        quillex::WriteLimitsFile(FileName.toStdString(), Limits());
    } catch (const quillex::ELimitFileError& e) {
        FForm.Prompts().ShowMessage(QString::fromStdString(e.what()));
        return;
    }
    FLimitsFile = FileName;
    FCurvesUnsaved = false;
}

void TLimitTools::SaveChangedCurves()
{
    if (!FCurvesUnsaved)
        return;
    const QString name =
        !FLimitsFile.isEmpty()
            ? FLimitsFile
            : FForm.Prompts().SaveFileName(FForm.StartDir, QStringLiteral("csv"), LimitsFilter);
    if (!name.isEmpty())
        WriteCurves(name);
}

void TLimitTools::LoadLimitsClick()
{
    const QString name =
        FForm.Prompts().OpenFileName(FForm.StartDir, QStringLiteral("csv"), LimitsFilter);
    if (!name.isEmpty())
        LoadLimitsFile(name);
}

bool TLimitTools::LoadLimitsFile(const QString& FileName)
{
    try {
        SetLimits(quillex::ReadLimitsFile(FileName.toStdString()));
    } catch (const quillex::ELimitFileError& e) {
        FForm.Prompts().ShowMessage(QString::fromStdString(e.what()));
        return false;
    }
    FLimitsFile = FileName;
    FCurvesUnsaved = false;
    return true;
}

void TLimitTools::ReferenceBent(int Series)
{
    const TLimitKind kind = Series == UpperSeries ? TLimitKind::Upper : TLimitKind::Lower;
    if (Series != UpperSeries && Series != LowerSeries)
        return;
    const TDXHistographInt::TDXSeries& bent = FForm.Histo->SeriesRecord(Series);
    const quillex::TLimitCheck& check = FRecipe.LimitCheck();
    if (bent.Data == nullptr || bent.Count != check.Grid().N)
        return;
    quillex::TLimits limits = Limits();
    limits.Curve(kind) =
        quillex::BendCurve(Limits().Curve(kind), check.Grid(), check.Displayed(kind), bent.Data);
    SetLimits(limits);
    FCurvesUnsaved = true;
}

void TLimitTools::NoReference(TDXHistographInt::TDXMode Mode)
{
    const TLimitKind kind = Mode == modeLowerRef ? TLimitKind::Lower : TLimitKind::Upper;
    FForm.StatusBar->showMessage(
        QStringLiteral("no %1 limit: make one from the trace first").arg(KindName(kind)), 10000);
}

QString TLimitTools::KeysHint() const
{
    return QStringLiteral(
               "Limits: the plot's context menu makes an upper or lower limit from the trace "
               "(the max or min hold while shown) or at a level (\"%1\"), clears, saves and "
               "loads them; the reference curve modes bend them. A frame beyond a limit starts an "
               "alarm, shown in the status bar, the trace and the waterfall, logged and recorded "
               "as the \"Limits\" group sets.")
        .arg(ActFlatLimit->text());
}

TLimitTools::TSettings TLimitTools::CurrentSettings() const
{
    return {FLimitsFile,
            FEventLogFile,
            FAlarmFolder,
            CBEventLog->isChecked(),
            CBRecordOnAlarm->isChecked(),
            SEUpperOffset->value(),
            SELowerOffset->value(),
            SEHoldOff->value(),
            SEPreSeconds->value(),
            SEPostSeconds->value()};
}

void TLimitTools::LoadSettings(const TIniFile* Ini)
{
    const auto text = [Ini](const char* Key) {
        return Ini ? QString::fromStdString(Ini->ReadString(SettingsSection, Key, "")) : QString();
    };
    const auto number = [Ini](const char* Key, double Default) {
        const double v = Ini ? Ini->ReadFloat(SettingsSection, Key, Default) : Default;
        return std::isfinite(v) ? v : Default;
    };
    const auto flag = [Ini](const char* Key) {
        return Ini && Ini->ReadInteger(SettingsSection, Key, 0) != 0;
    };
    SEUpperOffset->setValue(number("UpperOffsetDb", DefaultOffsetDb));
    SELowerOffset->setValue(number("LowerOffsetDb", DefaultOffsetDb));
    SEHoldOff->setValue(number("HoldOffS", quillex::TLimitEpisodes::DefaultHoldOffSeconds));
    SEPreSeconds->setValue(number("PreS", DefaultPreSeconds));
    SEPostSeconds->setValue(number("PostS", DefaultPostSeconds));
    FEventLogFile = text("EventLog");
    FAlarmFolder = text("AlarmFolder");
    FLimitsFile = text("File");
    if (!FLimitsFile.isEmpty()) {
        if (!QFileInfo::exists(FLimitsFile))
            FForm.Prompts().ShowMessage(
                QStringLiteral("The limits file %1 is gone: no limits.").arg(FLimitsFile));
        else
            LoadLimitsFile(FLimitsFile);
    }
    CBEventLog->setChecked(flag("EventLogOn") && !FEventLogFile.isEmpty() && OpenEventLog());
    CBRecordOnAlarm->setChecked(flag("RecordOnAlarm") && !FAlarmFolder.isEmpty() &&
                                StartRecorder());
    FSnapshot = CurrentSettings();
}

void TLimitTools::SaveSettings(TIniFile& Ini) const
{
    const TSettings s = CurrentSettings();
    const auto number = [&Ini](const char* Key, double Value) {
        Ini.WriteString(SettingsSection, Key, FormatFixed(Value, 2, '.'));
    };
    Ini.WriteString(SettingsSection, "File", s.LimitsFile.toStdString());
    number("UpperOffsetDb", s.UpperOffset);
    number("LowerOffsetDb", s.LowerOffset);
    number("HoldOffS", s.HoldOff);
    Ini.WriteString(SettingsSection, "EventLog", s.EventLogFile.toStdString());
    Ini.WriteInteger(SettingsSection, "EventLogOn", s.EventLog ? 1 : 0);
    Ini.WriteInteger(SettingsSection, "RecordOnAlarm", s.RecordOnAlarm ? 1 : 0);
    Ini.WriteString(SettingsSection, "AlarmFolder", s.AlarmFolder.toStdString());
    number("PreS", s.Pre);
    number("PostS", s.Post);
}

bool TLimitTools::SettingsChanged() const
{
    return FCurvesUnsaved || !(CurrentSettings() == FSnapshot);
}
