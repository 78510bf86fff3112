#include "app/main_app.h"

#include <QCoreApplication>
#include <QTranslator>

#include "app/standard_texts.h"
#include "pages/message_box.h"
#include "platform/host_addresses.h"
#include "platform/network_startup.h"
#include "shell/main_dlg.h"

namespace {

// The host entry lives as long as the process, like the resolver's record it stands for.
HostEntry s_hostEntry;

void LookUpLocalHost()
{
    const std::optional<QString> name = LocalHostName();
    if (!name) {
        AppMessageBox(QStringLiteral("获取本机地址失败!"));
        return;
    }
    s_hostEntry = ResolveHostEntry(*name);
    g_pHostEntry = s_hostEntry.addresses.isEmpty() ? nullptr : &s_hostEntry;
}

}  // namespace

CMainApp::CMainApp(NetworkStarter startNetwork)
    : m_startNetwork(startNetwork ? std::move(startNetwork) : NetworkStarter(StartNetwork))
{
}

CMainApp::~CMainApp() = default;

int CMainApp::InitInstance()
{
    // Window titles stay exactly as given: the name is not set as the display name, which
    // some platforms append to every title.
    QCoreApplication::setApplicationName(kAppDisplayName);
    RaiseDescriptorLimit();
    m_standardTexts = InstallStandardTextTranslation();

    if (!m_startNetwork()) {
        AppMessageBox(QStringLiteral("网络版本校验不匹配，启动失败!"));
        return 1;
    }
    LookUpLocalHost();

    {
        CMainDlg mainDlg;
        mainDlg.DoModal();
    }
    return 0;
}
