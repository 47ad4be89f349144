#include <QApplication>

#include "app/program.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);  // Qt takes its own options; the program reads none
    return zembrat::app::RunProgram(zembrat::app::ProgramFolder());
}
