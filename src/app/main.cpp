#include <QApplication>

#include "app/command_line.h"
#include "app/main_app.h"

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = HandleCommandLine(argc, argv))
        return *status;
    QApplication application(argc, argv);
    // Lets Wayland desktops match the window with the menu entry and its icon (packaging/).
    QGuiApplication::setDesktopFileName(QStringLiteral("example.quorvale.velvane"));
    CMainApp theApp;
    return theApp.InitInstance();
}
