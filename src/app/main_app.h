#pragma once

#include <functional>
#include <memory>

class QTranslator;

// Starts and ends the program: networking, the host lookup, then the main window, modally.
class CMainApp
{
public:
    using NetworkStarter = std::function<bool()>;

    explicit CMainApp(NetworkStarter startNetwork = {});
    ~CMainApp();

    // Runs the whole life of the program; returns its exit status.
    int InitInstance();

private:
    NetworkStarter m_startNetwork;
    std::unique_ptr<QTranslator> m_standardTexts;
};
