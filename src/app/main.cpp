#include <QApplication>

#include "ProgramMain.h"
#include "Prompts.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillex"));
    TQtPrompts prompts;
    return RunProgram(prompts);
}
