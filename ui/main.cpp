// corvane: the desktop program.
#include <QApplication>

#include <string>
#include <vector>

#include "ui/App/CorvanesApp.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("corvane");
    QApplication::setOrganizationName("corvane");
    QApplication::setDesktopFileName("corvane");
    QApplication::setQuitOnLastWindowClosed(false);
    return Branwick::Wnd::RunCorvane(std::vector<std::string>(argv, argv + argc));
}
