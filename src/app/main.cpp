#include <QApplication>
#include <QLocale>
#include <cstdio>
#include <cstring>

#include "ProgramMain.h"
#include "Prompts.h"

int main(int argc, char** argv)
{
    // Answered before the application object exists, so it needs no display.
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("quillex %s\n", QUILLEX_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillex"));
    InstallQtTranslations(QLocale::system());
    TQtPrompts prompts;
    return RunProgram(prompts);
}
