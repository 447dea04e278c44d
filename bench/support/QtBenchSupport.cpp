#include "QtBenchSupport.h"

#include <QApplication>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <utility>
#include <vector>

namespace {

std::vector<std::function<void()>>& Cleanups()
{
    static std::vector<std::function<void()>> cleanups;
    return cleanups;
}

} // namespace

void quillex::bench::ShowAndSettle(QWidget& Widget)
{
    Widget.show();
    QApplication::processEvents();
}

void quillex::bench::AtBenchmarksEnd(std::function<void()> Cleanup)
{
    Cleanups().push_back(std::move(Cleanup));
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Latest first, as objects kept later may depend on those kept before them.
    for (auto cleanup = Cleanups().rbegin(); cleanup != Cleanups().rend(); ++cleanup)
        (*cleanup)();
    return 0;
}
