#pragma once

#include <QString>
#include <array>

#include "LevelScale.h"
#include "PeakSearch.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QToolButton;
class QWidget;
class TForm1;
class TIniFile;

// The window's front panel: the plot's reference level and scale ("Ref", "dB/div", ten
// divisions) with their keys and "Auto level", the typed centre and span, and the switch that
// shows levels at the antenna input. The arithmetic is the core's (LevelScale, FrequencySpan,
// InputLevels); the span itself is the window's (TForm1::ShowSpan).
class TPanelTools
{
public:
    static constexpr const char* SettingsSection = "Panel";

    explicit TPanelTools(TForm1& Form);
    ~TPanelTools();
    TPanelTools(const TPanelTools&) = delete;
    TPanelTools& operator=(const TPanelTools&) = delete;

    // Built with the window's layout: "Ref", "dB/div", "Auto level" and "Input levels" (placed
    // by the window in its display group), the "Center" and "Span" fields (placed beside the
    // centre's scroll bar) and the status bar's notice of input levels.
    void BuildLevelControls(QWidget* Parent);
    void BuildSpanFields(QWidget* Parent);
    QLabel* BuildStatusNotice(QWidget* Parent);
    // Keys and signals; after the window's handlers are connected.
    void Connect();

    // --- level axis ---
    const quillex::TLevelScale& Scale() const { return FScale; }
    // A new reference level or scale: the controls show it and the plot goes back to it.
    void SetScale(const quillex::TLevelScale& Scale);
    // The plot back to the panel's view, with the level offset in force.
    void ApplyScale();
    void StepRef(bool Up);
    void StepScale(bool Up);
    void AutoLevelClick();

    // --- span ---
    // The typed fields show the span in force.
    void SpanShown();
    void CenterEntered();
    void SpanEntered();

    // --- levels at the input ---
    // What the level offset adds for the attenuator and preamplifier: 0 unless the switch is
    // on and the samples come from the receiver (a recording's header carries its own).
    double InputLevelDb() const;
    // The switch is in force: on, and the samples come from the receiver.
    bool InputLevelsOn() const;
    void ShowInputLevels();
    QString KeysHint() const;

    // The section "Panel" (Ini null: no file): levels, span and the switch.
    void LoadSettings(const TIniFile* Ini);
    void SaveSettings(TIniFile& Ini) const;
    bool SettingsChanged() const;
    // What SettingsChanged compares with: taken once start-up has settled every control.
    void TakeSnapshot();

    // --- controls ---
    QSpinBox* SERef = nullptr;
    QComboBox* CBDbPerDiv = nullptr;
    QToolButton* BtnAutoLevel = nullptr;
    QCheckBox* CBInputLevels = nullptr;
    QLineEdit* EdtCenter = nullptr;
    QLineEdit* EdtSpan = nullptr;
    QLabel* LblInputLevels = nullptr;
    QAction* ActRefUp = nullptr;
    QAction* ActRefDown = nullptr;
    QAction* ActScaleUp = nullptr;
    QAction* ActScaleDown = nullptr;
    QAction* ActAutoLevel = nullptr;

private:
    void BuildActions();
    void ShowScale();
    void ScaleChosen();
    std::array<int, 3> CurrentSettings() const;

    TForm1& FForm;
    quillex::TLevelScale FScale;
    quillex::TPeakSearch FSearch;
    bool FShowing = false; // the controls are being set to the state, not by the user
    std::array<int, 3> FSnapshot{};
    double FSnapshotCentre = 0, FSnapshotSpan = 0;
};
