#pragma once

#include "Prompts.h"
#include "QtBenchSupport.h"
#include "Unit1.h"

#include <QSpinBox>
#include <QStringList>

namespace quillex::bench {

// No dialogs during a benchmark: the open dialog answers with File, questions are answered
// "No" and error texts are kept for the benchmark to report.
class TBenchPrompts : public TPrompts
{
public:
    QString File;
    QStringList Errors;

    void ShowMessage(const QString&) override {}
    void ShowError(const QString& Text) override { Errors << Text; }
    TAnswer AskYesNoCancel(const QString&) override { return TAnswer::No; }
    QString SaveFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString OpenFileName(const QString&, const QString&, const QString&) override { return File; }
    QString FolderName(const QString&) override { return {}; }
    std::optional<double> AskNumber(const QString&, double, int) override { return std::nullopt; }
    void ShowInformation(const QString&, const QString&) override {}
};

// The window as the program starts it, shown, with N = 4096.
inline void StartWindow(TForm1& Form)
{
    Form.InitTimerTimer();
    Form.SEFft->setValue(12);
    ShowAndSettle(Form);
}

} // namespace quillex::bench
