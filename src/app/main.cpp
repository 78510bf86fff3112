#include <QApplication>

#include "app/command_line.h"
#include "app/main_app.h"

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = HandleCommandLine(argc, argv))
        return *status;
    QApplication application(argc, argv);
    CMainApp theApp;
    return theApp.InitInstance();
}
