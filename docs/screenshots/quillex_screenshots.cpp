// Makes the README's pictures of the window from the program itself: the window as the
// program's main builds it, against the simulated receiver, driven the way a user drives it
// (Start, P and Shift+P for the two strongest carriers, A for the levels, Ctrl+T and
// Ctrl+Shift+V for the plot's bars). Runs on
// any Qt platform; scripts/screenshots.sh runs it offscreen.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <functional>
#include <vector>

#include "ProgramMain.h"
#include "Prompts.h"
#include "Unit1.h"
#include "dxHisto.h"
#include "dx_Eca.h"
#include "dx_Etb.h"

namespace {

// A first start's settings but for a window size that shows the plot well, a 10 MHz span
// around the centre, an FFT fine enough to separate the simulator's carriers, and max hold.
constexpr const char* Settings = "[Form]\nLeft=0\nTop=0\nWidth=1000\nHeight=800\n"
                                 "[Settings]\nFFT=12\nAvg=4\nBandWidth=1\n"
                                 "[Traces]\nMaxHold=1\n";

bool Save(const QImage& Image, const QString& Path)
{
    if (Image.isNull() || !Image.save(Path)) {
        std::fprintf(stderr, "quillex-screenshots: cannot write %s\n", qPrintable(Path));
        return false;
    }
    std::printf("%s\n", qPrintable(Path));
    return true;
}

// The tool bar with the value bar under it, as they open beside the plot.
QImage Bars(QWidget* ToolBar, QWidget* ValueBar)
{
    const QImage tools = ToolBar->grab().toImage();
    const QImage values = ValueBar->grab().toImage();
    const int gap = 8;
    QImage both(std::max(tools.width(), values.width()), tools.height() + gap + values.height(),
                QImage::Format_ARGB32_Premultiplied);
    both.fill(Qt::transparent);
    QPainter p(&both);
    p.drawImage(0, 0, tools);
    p.drawImage(0, tools.height() + gap, values);
    return both;
}

// Steps run one after the other with the given pause before each, the event loop running in
// between so frames arrive and paint.
void RunSteps(std::vector<std::pair<int, std::function<void()>>> Steps, size_t Next = 0)
{
    if (Next == Steps.size())
        return;
    const int pause = Steps[Next].first;
    QTimer::singleShot(pause, [Steps = std::move(Steps), Next]() mutable {
        Steps[Next].second();
        RunSteps(std::move(Steps), Next + 1);
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillex-screenshots OUTPUT-FOLDER\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillex"));
    // Taken as absolute now: the current folder changes below.
    const QDir out(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    // A folder of its own, so the pictures show a first start and no settings file is touched.
    const QTemporaryDir home;
    QFile ini(home.filePath(QStringLiteral("Quillex.ini")));
    if (!home.isValid() || !ini.open(QIODevice::WriteOnly) || ini.write(Settings) < 0) {
        std::fprintf(stderr, "quillex-screenshots: cannot prepare a scratch folder\n");
        return 1;
    }
    ini.close();
    QDir::setCurrent(home.path());

    TQtPrompts prompts;
    int status = 0;
    const auto shot = [&](const QImage& Image, const char* Name) {
        if (!Save(Image, out.filePath(QLatin1String(Name))))
            status = 1;
    };
    const int programStatus = RunProgram(prompts, [&](TForm1& Window) {
        RunSteps({
            {600, [&] { Window.BtnStartStop->click(); }},
            {12000,
             [&] {
                 QTest::keyClick(&Window, Qt::Key_P);
                 QTest::keyClick(&Window, Qt::Key_P, Qt::ShiftModifier);
                 QTest::keyClick(&Window, Qt::Key_A);
             }},
            {1500,
             [&] {
                 shot(Window.grab().toImage(), "main-window.png");
                 Window.ActToolBar->trigger();
                 Window.ActValueBar->trigger();
             }},
            {800,
             [&] {
                 TDXHistograph* plot = Window.Histo;
                 shot(Bars(plot->ToolBar(), plot->ValueBar()), "tool-bars.png");
                 QApplication::quit();
             }},
        });
    });
    return status != 0 ? status : programStatus;
}
