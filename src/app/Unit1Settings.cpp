#include "Unit1.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QLocale>
#include <QScrollBar>
#include <QSpinBox>
#include <cmath>

#include "FrameProcessor.h"
#include "IniFileU.h"
#include "Unit1Channel.h"
#include "Unit1Limits.h"
#include "Unit1Markers.h"
#include "Unit1Panel.h"

namespace {

const char* const Settings = "Settings";
const char* const Form = "Form";
const char* const Offsets = "Offsets";

double FiniteOr0(double Value)
{
    return std::isfinite(Value) ? Value : 0.0;
}

char LocaleSeparator()
{
    const QString point = QLocale().decimalPoint();
    return point == QLatin1String(",") ? ',' : '.';
}

} // namespace

QString TForm1::SettingsPath() const
{
    return StartDir + QLatin1String(SettingsFileName);
}

void TForm1::LoadSettings()
{
    const TIniFile ini(SettingsPath().toStdString());
    SettingsFileTooLarge = ini.FileExists() && ini.TooLarge();
    if (SettingsFileTooLarge)
        FPrompts.ShowMessage(QStringLiteral("%1 is larger than %2 bytes: only its beginning is "
                                            "read, and changed settings are not saved to it.")
                                 .arg(SettingsPath())
                                 .arg(TIniFile::MaxFileSize));
    if (ini.FileExists()) {
        RGFenster->setItemIndex(ini.ReadInteger(Settings, "FFTWindow", 1));
        // No item would leave the views without a span: an unusable index reads as the
        // default, the whole spectrum.
        const int bandwidth = ini.ReadInteger(Settings, "BandWidth", 3);
        RGBW->setItemIndex(bandwidth >= 0 && bandwidth <= 3 ? bandwidth : 3);
        SESpeed->setValue(ini.ReadInteger(Settings, "Speed", 40));
        RGAtt->setItemIndex(ini.ReadInteger(Settings, "Att", 0));
        SBMin->setValue(ini.ReadInteger(Settings, "MinLevel", 120));
        SBRange->setValue(ini.ReadInteger(Settings, "Range", 120));
        SEAvg->setValue(ini.ReadInteger(Settings, "Avg", 1));
        SEFft->setValue(ini.ReadInteger(Settings, "FFT", 11));
        SBFrq->setValue(ini.ReadInteger(Settings, "Freq", SBFrq->maximum() / 2));
        const int width = ini.ReadInteger(Form, "Width", 880 + LegendExtraWidth());
        // Without a saved height the designed one, which shows every control.
        const int height = ini.ReadInteger(Form, "Height", this->height());
        resize(width, height);
        const int top = ini.ReadInteger(Form, "Top", 100);
        const int left = ini.ReadInteger(Form, "Left", 200);
        move(left, top);
        CBDither->setChecked(ini.ReadInteger(Settings, "Dither", 0) != 0);
        CBPreamp->setChecked(ini.ReadInteger(Settings, "Preamp", 0) != 0);
        FreqOffset = static_cast<float>(FiniteOr0(ini.ReadFloat(Offsets, "FreqMHz", 0.0)));
        EnteredLevelOffset = static_cast<float>(FiniteOr0(ini.ReadFloat(Offsets, "LeveldB", 0.0)));
        LevelOffset = EnteredLevelOffset;
        OffsetsEnabled = ini.ReadInteger(Offsets, "Enabled", 0) != 0;
        CBInverted->setChecked(ini.ReadInteger(Offsets, "Inverted", 0) != 0);
    } else {
        RGFenster->setItemIndex(1);
        RGBW->setItemIndex(3);
        SESpeed->setValue(40);
        RGAtt->setItemIndex(0);
        SBMin->setValue(120);
        SBRange->setValue(120);
        SEAvg->setValue(1);
        SEFft->setValue(11);
        SBFrq->setValue(SBFrq->maximum() / 2);
        CBDither->setChecked(false);
        CBPreamp->setChecked(false);
        FreqOffset = 0.0f;
        LevelOffset = 0.0f;
        EnteredLevelOffset = 0.0f;
        OffsetsEnabled = false;
        CBInverted->setChecked(false);
    }
    StoredOffsets = {quillex::RoundHalfEven(double(FreqOffset) * 1000.0),
                     quillex::RoundHalfEven(double(EnteredLevelOffset) * 10.0),
                     CBInverted->isChecked() ? 1 : 0};
    Measure->LoadSettings(ini.FileExists() ? &ini : nullptr);
    Limits->LoadSettings(ini.FileExists() ? &ini : nullptr);
    Panel->LoadSettings(ini.FileExists() ? &ini : nullptr);
    Channel->LoadSettings(ini.FileExists() ? &ini : nullptr);
}

std::array<int32_t, 18> TForm1::CurrentSettings() const
{
    return {RGFenster->ItemIndex(),
            RGBW->ItemIndex(),
            SESpeed->value(),
            RGAtt->ItemIndex(),
            SBMin->value(),
            SBRange->value(),
            SEAvg->value(),
            SEFft->value(),
            SBFrq->value(),
            width(),
            height(),
            y(),
            x(),
            CBDither->isChecked() ? 1 : 0,
            CBPreamp->isChecked() ? 1 : 0,
            quillex::RoundHalfEven(double(FreqOffset) * 1000.0),
            quillex::RoundHalfEven(double(EnteredLevelOffset) * 10.0),
            CBInverted->isChecked() ? 1 : 0};
}

bool TForm1::SaveSettings()
{
    const std::array<int32_t, 18> current = CurrentSettings();
    // The offsets count only while they are in force.
    const std::size_t compared = OffsetsEnabled ? current.size() : 15;
    bool changed = false;
    for (std::size_t i = 0; i < compared; ++i)
        changed = changed || current[i] != SettingsSnapshot[i];
    changed = changed || Measure->SettingsChanged() || Limits->SettingsChanged() ||
              Panel->SettingsChanged() || Channel->SettingsChanged();
    // Nothing is offered that cannot be saved; the user was told at start-up.
    if (!changed || SettingsFileTooLarge)
        return true;

    switch (FPrompts.AskYesNoCancel(QStringLiteral("Some Settings changed, save?"))) {
    case TPrompts::TAnswer::Cancel:
        return false;
    case TPrompts::TAnswer::No:
        return true;
    case TPrompts::TAnswer::Yes:
        break;
    }
    TIniFile ini(SettingsPath().toStdString());
    ini.WriteInteger(Settings, "FFTWindow", current[0]);
    ini.WriteInteger(Settings, "BandWidth", current[1]);
    ini.WriteInteger(Settings, "Speed", current[2]);
    ini.WriteInteger(Settings, "Att", current[3]);
    ini.WriteInteger(Settings, "MinLevel", current[4]);
    ini.WriteInteger(Settings, "Range", current[5]);
    ini.WriteInteger(Settings, "Avg", current[6]);
    ini.WriteInteger(Settings, "FFT", current[7]);
    ini.WriteInteger(Settings, "Freq", current[8]);
    ini.WriteInteger(Form, "Width", current[9]);
    ini.WriteInteger(Form, "Height", current[10]);
    ini.WriteInteger(Form, "Top", current[11]);
    ini.WriteInteger(Form, "Left", current[12]);
    ini.WriteInteger(Settings, "Dither", current[13]);
    ini.WriteInteger(Settings, "Preamp", current[14]);
    if (OffsetsEnabled) {
        const char separator = LocaleSeparator();
        ini.WriteString(Offsets, "FreqMHz", FormatFixed(FreqOffset, 3, separator));
        ini.WriteString(Offsets, "LeveldB", FormatFixed(EnteredLevelOffset, 1, separator));
        ini.WriteInteger(Offsets, "Inverted", current[17]);
    }
    Measure->SaveSettings(ini);
    Limits->SaveChangedCurves();
    Limits->SaveSettings(ini);
    Panel->SaveSettings(ini);
    Channel->SaveSettings(ini);
    return true;
}

void TForm1::ShowOffsets()
{
    EdtFrqOffset->setText(LocalFormat("%0.3f", FreqOffset));
    EdtLevelOffset->setText(LocalFormat("%0.1f", EnteredLevelOffset));
}
