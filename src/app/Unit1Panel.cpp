// The front panel of the main window: reference level and scale, auto level, typed centre and
// span, levels at the antenna input.

#include "Unit1Panel.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "FrequencySpan.h"
#include "IniFileU.h"
#include "InputLevels.h"
#include "MarkerPosition.h"
#include "ToneFit.h"
#include "Unit1.h"
#include "Unit1Channel.h"
#include "dxHisto.h"

namespace {

// A bin at the level scale's floor (-180 dBm) holds nothing at all: no peak, no level.
constexpr double FloorMagnitude = 16384.0 * 1e-9;

// Up and Down, with or without Shift, stay with the focused field that steps with them (a spin
// box, a line edit, a choice box), as they always did; elsewhere they reach the panel's keys.
class TFieldKeys : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() != QEvent::ShortcutOverride)
            return false;
        auto* key = static_cast<QKeyEvent*>(Event);
        const Qt::KeyboardModifiers others =
            key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
        QWidget* focus = QApplication::focusWidget();
        if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) && others == 0 &&
            (qobject_cast<QAbstractSpinBox*>(focus) || qobject_cast<QLineEdit*>(focus) ||
             qobject_cast<QComboBox*>(focus)))
            key->accept();
        return false;
    }
};

// MHz with Least to five decimals, no trailing zeros beyond Least.
QString MhzText(double MHz, int Least)
{
    constexpr int Most = 5;
    QString text = LocalFormat("%0.5f", MHz);
    const int point = int(text.size()) - Most - 1;
    int end = int(text.size());
    while (end > point + 1 + Least && text[end - 1] == QLatin1Char('0'))
        --end;
    if (end == point + 1)
        --end; // no decimals: no separator
    return text.left(end);
}

} // namespace

TPanelTools::TPanelTools(TForm1& Form) : FForm(Form) {}

TPanelTools::~TPanelTools() = default;

void TPanelTools::BuildLevelControls(QWidget* Parent)
{
    SERef = new QSpinBox(Parent);
    SERef->setObjectName(QStringLiteral("SERef"));
    SERef->setRange(quillex::TLevelScale::LeastRefDbm, quillex::TLevelScale::LargestRefDbm);
    SERef->setValue(FScale.RefDbm);
    // As narrow as its digits: the panel is.
    SERef->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    SERef->setToolTip(QStringLiteral("Reference level: the plot's top (Up, Down)"));
    CBDbPerDiv = new QComboBox(Parent);
    CBDbPerDiv->setObjectName(QStringLiteral("CBDbPerDiv"));
    CBDbPerDiv->setToolTip(QStringLiteral("Scale of the ten divisions (Shift+Up, Shift+Down)"));
    BtnAutoLevel = new QToolButton(Parent);
    BtnAutoLevel->setObjectName(QStringLiteral("BtnAutoLevel"));
    BtnAutoLevel->setText(QStringLiteral("Auto level"));
    BtnAutoLevel->setToolTip(
        QStringLiteral("Reference level above the strongest peak, the noise two divisions up (A)"));
    BtnAutoLevel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    CBInputLevels = new QCheckBox(QStringLiteral("Input levels"), Parent);
    CBInputLevels->setObjectName(QStringLiteral("CBInputLevels"));
    CBInputLevels->setToolTip(
        QStringLiteral("Levels at the antenna input: the attenuator and the preamplifier's "
                       "nominal gain compensated"));
    ShowScale();
    BuildActions();
}

void TPanelTools::BuildSpanFields(QWidget* Parent)
{
    EdtCenter = new QLineEdit(Parent);
    EdtCenter->setObjectName(QStringLiteral("EdtCenter"));
    EdtCenter->setToolTip(QStringLiteral("Center frequency (MHz)"));
    EdtSpan = new QLineEdit(Parent);
    EdtSpan->setObjectName(QStringLiteral("EdtSpan"));
    EdtSpan->setToolTip(QStringLiteral("Span (MHz)"));
    const QFontMetrics fm(EdtCenter->font());
    EdtCenter->setFixedWidth(fm.horizontalAdvance(QStringLiteral("00.00000")) + 8);
    EdtSpan->setFixedWidth(fm.horizontalAdvance(QStringLiteral("0.00000")) + 8);
}

QLabel* TPanelTools::BuildStatusNotice(QWidget* Parent)
{
    LblInputLevels = new QLabel(Parent);
    LblInputLevels->setObjectName(QStringLiteral("LblInputLevels"));
    LblInputLevels->hide();
    return LblInputLevels;
}

void TPanelTools::BuildActions()
{
    const auto action = [this](const QString& Text, const char* Name, QKeySequence Keys) {
        return AddWindowAction(FForm, Text, Name, Keys);
    };
    ActRefUp = action(QStringLiteral("Reference level up"), "ActRefUp", QKeySequence(Qt::Key_Up));
    ActRefDown =
        action(QStringLiteral("Reference level down"), "ActRefDown", QKeySequence(Qt::Key_Down));
    ActScaleUp = action(QStringLiteral("More dB per division"), "ActScaleUp",
                        QKeySequence(Qt::SHIFT | Qt::Key_Up));
    ActScaleDown = action(QStringLiteral("Fewer dB per division"), "ActScaleDown",
                          QKeySequence(Qt::SHIFT | Qt::Key_Down));
    ActAutoLevel = action(QStringLiteral("Auto level"), "ActAutoLevel", QKeySequence(Qt::Key_A));
}

void TPanelTools::Connect()
{
    const auto guarded = [this](auto Handler) {
        return [this, Handler] { FForm.Guard([&] { Handler(); }); };
    };
    QObject::connect(ActRefUp, &QAction::triggered, &FForm, guarded([this] { StepRef(true); }));
    QObject::connect(ActRefDown, &QAction::triggered, &FForm, guarded([this] { StepRef(false); }));
    QObject::connect(ActScaleUp, &QAction::triggered, &FForm, guarded([this] { StepScale(true); }));
    QObject::connect(ActScaleDown, &QAction::triggered, &FForm,
                     guarded([this] { StepScale(false); }));
    QObject::connect(ActAutoLevel, &QAction::triggered, &FForm,
                     guarded([this] { AutoLevelClick(); }));
    QObject::connect(BtnAutoLevel, &QToolButton::clicked, &FForm,
                     guarded([this] { AutoLevelClick(); }));
    QObject::connect(SERef, &QSpinBox::valueChanged, &FForm, guarded([this] {
                         if (!FShowing)
                             SetScale({SERef->value(), FScale.DbPerDiv});
                     }));
    QObject::connect(CBDbPerDiv, &QComboBox::currentIndexChanged, &FForm,
                     guarded([this] { ScaleChosen(); }));
    const auto levels = guarded([this] { FForm.ApplyLevelOffset(); });
    QObject::connect(CBInputLevels, &QCheckBox::toggled, &FForm, levels);
    QObject::connect(FForm.RGAtt, &TRadioGroup::Click, &FForm, levels);
    QObject::connect(FForm.CBPreamp, &QCheckBox::toggled, &FForm, levels);
    QObject::connect(EdtCenter, &QLineEdit::editingFinished, &FForm,
                     guarded([this] { CenterEntered(); }));
    QObject::connect(EdtSpan, &QLineEdit::editingFinished, &FForm,
                     guarded([this] { SpanEntered(); }));
    FForm.installEventFilter(new TFieldKeys(&FForm));
}

void TPanelTools::ShowScale()
{
    FShowing = true;
    SERef->setValue(FScale.RefDbm);
    // The steps, and the scale in force where it is none of them (the legacy one).
    QList<int> scales(quillex::TLevelScale::Steps.begin(), quillex::TLevelScale::Steps.end());
    if (!scales.contains(FScale.DbPerDiv)) {
        scales << FScale.DbPerDiv;
        std::sort(scales.begin(), scales.end());
    }
    QStringList texts;
    for (const int s : scales)
        texts << QString::number(s);
    if (CBDbPerDiv->count() != texts.size() || CBDbPerDiv->itemText(0) != texts.front() ||
        CBDbPerDiv->itemText(CBDbPerDiv->count() - 1) != texts.back() ||
        CBDbPerDiv->findData(FScale.DbPerDiv) < 0) {
        CBDbPerDiv->clear();
        for (int i = 0; i < scales.size(); ++i)
            CBDbPerDiv->addItem(texts[i], scales[i]);
    }
    CBDbPerDiv->setCurrentIndex(CBDbPerDiv->findData(FScale.DbPerDiv));
    FShowing = false;
}

void TPanelTools::ScaleChosen()
{
    if (FShowing || CBDbPerDiv->currentIndex() < 0)
        return;
    SetScale({FScale.RefDbm, CBDbPerDiv->currentData().toInt()});
}

void TPanelTools::SetScale(const quillex::TLevelScale& Scale)
{
    FScale = {quillex::ClampRefDbm(Scale.RefDbm),
              quillex::ValidDbPerDiv(Scale.DbPerDiv) ? Scale.DbPerDiv : FScale.DbPerDiv};
    ShowScale();
    ApplyScale();
}

void TPanelTools::ApplyScale()
{
    TDXHistograph* histo = FForm.Histo;
    histo->LeaveZoom();
    histo->setAutoScale(false);
    // The plot's data have no level offset: its axis is the displayed one shifted back.
    const double top = FScale.RefDbm - double(FForm.LevelOffset);
    const auto max = float(top);
    const auto min = float(top - double(quillex::TLevelScale::Divisions) * FScale.DbPerDiv);
    histo->setViewYGridOrigin(max);
    histo->setViewYGap(float(FScale.DbPerDiv));
    // Never a reversed range between the two setters.
    if (min < histo->ViewYMax()) {
        histo->setViewYMin(min);
        histo->setViewYMax(max);
    } else {
        histo->setViewYMax(max);
        histo->setViewYMin(min);
    }
}

void TPanelTools::StepRef(bool Up)
{
    SetScale({FScale.RefDbm + (Up ? FScale.DbPerDiv : -FScale.DbPerDiv), FScale.DbPerDiv});
}

void TPanelTools::StepScale(bool Up)
{
    SetScale({FScale.RefDbm, quillex::NextDbPerDiv(FScale.DbPerDiv, Up)});
}

void TPanelTools::AutoLevelClick()
{
    const TDXHistograph* histo = FForm.Histo;
    const int n = FForm.Recipe.N();
    const quillex::TBinRange bins = quillex::PhysicalBinsInView(
        histo->ViewXCurrentMin(), histo->ViewXCurrentMax(), n, FForm.CBInverted->isChecked());
    if (bins.Last < bins.First)
        return;
    // The strongest peak of the trace shown, interpolated; without one the loudest bin that
    // holds anything.
    const float* m = FForm.Recipe.Averages();
    double peak = NAN;
    quillex::TPeak strongest;
    if (FSearch.Strongest(m, n, FForm.Recipe.Settings().Window, bins.First, bins.Last, 0.0, 1,
                          &strongest) == 1) {
        peak = quillex::LevelFromMagnitude(strongest.Magnitude);
    } else {
        const float loudest = *std::max_element(m + bins.First, m + bins.Last + 1);
        if (loudest >= FloorMagnitude)
            peak = quillex::LevelFromMagnitude(loudest);
    }
    const double offset = FForm.LevelOffset;
    SetScale(quillex::AutoLevel(peak + offset, FForm.Channel->NoiseBinDbm() + offset, FScale));
}

void TPanelTools::SpanShown()
{
    if (EdtCenter == nullptr)
        return;
    EdtCenter->setText(MhzText(FForm.CentreKHz / 1000.0 + FForm.FreqOffset, 3));
    EdtSpan->setText(MhzText(FForm.SpanKHz / 1000.0, 0));
    EdtCenter->setModified(false);
    EdtSpan->setModified(false);
}

void TPanelTools::CenterEntered()
{
    if (!EdtCenter->isModified())
        return;
    double mhz = 0;
    try {
        mhz = ParseOffset(EdtCenter->text());
    } catch (...) {
        SpanShown(); // what is in force stays, and shows
        throw;
    }
    // The centre typed stands: a span reaching beyond the spectrum around it narrows.
    const double centre = (mhz - FForm.FreqOffset) * 1000.0;
    const double room = 2.0 * std::min(centre, quillex::SpanSpectrumKHz - centre);
    FForm.Histo->LeaveZoom();
    FForm.ShowSpan(centre, std::min(FForm.SpanKHz, room));
}

void TPanelTools::SpanEntered()
{
    if (!EdtSpan->isModified())
        return;
    double mhz = 0;
    try {
        mhz = ParseOffset(EdtSpan->text());
    } catch (...) {
        SpanShown();
        throw;
    }
    FForm.Histo->LeaveZoom();
    FForm.ShowSpan(FForm.CentreKHz, mhz * 1000.0);
}

bool TPanelTools::InputLevelsOn() const
{
    // A recording's levels are what its header says; the synthetic signal has no attenuator.
    return CBInputLevels != nullptr && CBInputLevels->isChecked() && !FForm.PlaybackMode &&
           !FForm.DebugMode;
}

double TPanelTools::InputLevelDb() const
{
    if (!InputLevelsOn())
        return 0.0;
    return quillex::InputLevelCorrectionDb(FForm.RGAtt->ItemIndex(), FForm.CBPreamp->isChecked());
}

void TPanelTools::ShowInputLevels()
{
    LblInputLevels->setText(LocalFormat("Input levels %+0.0f dB", InputLevelDb()));
    LblInputLevels->setToolTip(
        QStringLiteral("Levels at the antenna input: the attenuator's %1 dB added, the "
                       "preamplifier's nominal %2 dB taken away when it is on")
            .arg(std::max(FForm.RGAtt->ItemIndex(), 0) * quillex::AttenuatorStepDb)
            .arg(quillex::PreampNominalGainDb));
    LblInputLevels->setVisible(InputLevelsOn());
}

QString TPanelTools::KeysHint() const
{
    const auto keys = [](const QAction* Action) {
        return Action->shortcut().toString(QKeySequence::NativeText);
    };
    return QStringLiteral("Levels: %1 and %2 move the reference level by a division, %3 and %4 "
                          "change the scale, %5 sets both from the spectrum (\"Auto level\").")
        .arg(keys(ActRefUp), keys(ActRefDown), keys(ActScaleUp), keys(ActScaleDown),
             keys(ActAutoLevel));
}

std::array<int, 3> TPanelTools::CurrentSettings() const
{
    return {FScale.RefDbm, FScale.DbPerDiv, CBInputLevels->isChecked() ? 1 : 0};
}

void TPanelTools::LoadSettings(const TIniFile* Ini)
{
    const auto read = [Ini](const char* Key, int Default) {
        return Ini ? Ini->ReadInteger(SettingsSection, Key, Default) : Default;
    };
    CBInputLevels->setChecked(read("InputLevels", 0) != 0);
    const int scale = read("DbPerDiv", quillex::TLevelScale::LegacyDbPerDiv);
    SetScale({read("Ref", 0),
              quillex::ValidDbPerDiv(scale) ? scale : quillex::TLevelScale::LegacyDbPerDiv});
    const double centre = Ini ? Ini->ReadFloat(SettingsSection, "CenterKHz", NAN) : NAN;
    const double span = Ini ? Ini->ReadFloat(SettingsSection, "SpanKHz", NAN) : NAN;
    if (std::isfinite(centre) && std::isfinite(span))
        FForm.ShowSpan(centre, span);
}

void TPanelTools::TakeSnapshot()
{
    FSnapshot = CurrentSettings();
    FSnapshotCentre = FForm.CentreKHz;
    FSnapshotSpan = FForm.SpanKHz;
}

void TPanelTools::SaveSettings(TIniFile& Ini) const
{
    const std::array<int, 3> current = CurrentSettings();
    const char* const keys[] = {"Ref", "DbPerDiv", "InputLevels"};
    for (size_t i = 0; i < current.size(); ++i)
        Ini.WriteInteger(SettingsSection, keys[i], current[i]);
    const char separator = SystemDecimalSeparator();
    Ini.WriteString(SettingsSection, "CenterKHz", FormatFixed(FForm.CentreKHz, 3, separator));
    Ini.WriteString(SettingsSection, "SpanKHz", FormatFixed(FForm.SpanKHz, 3, separator));
}

bool TPanelTools::SettingsChanged() const
{
    return CurrentSettings() != FSnapshot || FForm.CentreKHz != FSnapshotCentre ||
           FForm.SpanKHz != FSnapshotSpan;
}
