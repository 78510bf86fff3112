#include "shell/remembered_settings.h"

#include <QJsonObject>
#include <QTabBar>

#include "pages/traffic_area/traffic_page.h"
#include "shell/page_tab_ctrl.h"
#include "traffic/settings_store.h"

RememberedSettings::RememberedSettings(CPageTabCtrl *tabs, QList<std::pair<QString, CTrafficPage *>> pages,
                                       QObject *parent)
    : QObject(parent)
    , m_tabs(tabs)
    , m_pages(std::move(pages))
{
    m_save.setSingleShot(true);
    m_save.setInterval(kSaveDelayMs);
    connect(&m_save, &QTimer::timeout, this, &RememberedSettings::Save);
    for (const auto &[key, page] : m_pages)
        connect(page, &CTrafficPage::StateChanged, this, &RememberedSettings::OnChanged);
    connect(tabs->TabBar(), &QTabBar::currentChanged, this, &RememberedSettings::OnChanged);
}

void RememberedSettings::Restore()
{
    const std::optional<QJsonObject> settings = SettingsStore::Load(kFileName);
    if (!settings)
        return;
    m_on = settings->value(QStringLiteral("remember")).toBool(false);
    if (!m_on)
        return;
    m_restoring = true;
    const QJsonObject pages = settings->value(QStringLiteral("pages")).toObject();
    for (const auto &[key, page] : m_pages)
        if (pages.value(key).isObject())
            page->RestoreState(pages.value(key).toObject());
    const int tab = settings->value(QStringLiteral("tab")).toInt(-1);
    if (tab >= 0 && tab < m_tabs->PageCount())
        m_tabs->SetActivePage(tab);
    m_restoring = false;
}

void RememberedSettings::SetOn(bool on)
{
    m_on = on;
    m_save.stop();
    Save();
}

void RememberedSettings::OnChanged()
{
    if (m_on && !m_restoring)
        m_save.start();
}

void RememberedSettings::Flush()
{
    if (m_save.isActive()) {
        m_save.stop();
        Save();
    }
}

void RememberedSettings::Save()
{
    QJsonObject settings{{QStringLiteral("remember"), m_on}};
    if (m_on) {
        QJsonObject pages;
        for (const auto &[key, page] : m_pages)
            pages.insert(key, page->SaveState(true));
        settings.insert(QStringLiteral("pages"), pages);
        settings.insert(QStringLiteral("tab"), m_tabs->CurrentPage());
    }
    SettingsStore::Save(kFileName, settings);
}
