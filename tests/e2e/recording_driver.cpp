// The program as it ships (RunProgram) with a hand on its controls: once start-up is done
// it ticks Dither (a changed setting, so closing asks), presses Record with the file named by
// QUILLEX_DRIVER_RECORDING, selects the sync pacing when QUILLEX_DRIVER_SYNC=1, and presses
// Start. Every other prompt is the real dialog.
#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

#include "ProgramMain.h"
#include "Prompts.h"
#include "Unit1.h"

namespace {

class TDriverPrompts : public TQtPrompts
{
public:
    QString SaveFileName(const QString&, const QString&, const QString&) override
    {
        return qEnvironmentVariable("QUILLEX_DRIVER_RECORDING");
    }
};

void PressControls(TForm1& Window)
{
    Window.CBDither->click();
    Window.BtnRecord->click();
    if (qEnvironmentVariableIntValue("QUILLEX_DRIVER_SYNC") == 1)
        Window.RBSync->click();
    Window.BtnStartStop->click(); // in sync pacing this returns when the run ends
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillex"));
    TDriverPrompts prompts;
    return RunProgram(prompts, [](TForm1& Window) {
        // Start-up runs from the window's own timer; the controls are usable once it is done.
        auto* poll = new QTimer(&Window);
        QObject::connect(poll, &QTimer::timeout, &Window, [poll, &Window] {
            if (!Window.centralWidget()->isEnabled())
                return;
            poll->stop();
            PressControls(Window);
        });
        poll->start(20);
    });
}
