#include <QGuiApplication>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "ExportError.h"
#include "ExportOptions.h"
#include "ExportRun.h"
#include "OutputFile.h"

namespace {

// Qt's own notes (about run-time folders and the like) are no business of the user of a
// batch tool, whose stderr carries one line per problem.
void QuietQtMessages(QtMsgType Type, const QMessageLogContext&, const QString& Text)
{
    if (Type == QtFatalMsg)
        std::cerr << "quillex-export: " << Text.toStdString() << '\n';
}

} // namespace

int main(int argc, char** argv)
{
    using namespace quillex;
    quillex::TExportOptions options;
    try {
        options = ParseExportArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const TExportError& e) {
        std::cerr << "quillex-export: " << e.what() << '\n';
        return static_cast<int>(e.Code());
    }
    if (options.Help) {
        std::cout << ExportHelpText();
        return 0;
    }
    if (options.Version) {
        std::cout << "quillex-export " QUILLEX_VERSION "\n";
        return 0;
    }
    RemoveOutputsOnInterrupt();
    // Text in the image needs fonts, which come with a GUI application; the offscreen
    // platform needs no display.
    std::unique_ptr<QGuiApplication> app;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQtMessages);
    return RunExport(options, std::cerr, ::isatty(2) != 0,
                     [&] { app = std::make_unique<QGuiApplication>(argc, argv); });
}
