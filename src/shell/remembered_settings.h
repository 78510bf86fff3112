#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <utility>

class CPageTabCtrl;
class CTrafficPage;

// "记住设置": while on, the traffic pages' fields (and the send boxes' history) and the
// selected tab are saved a moment after each change and when the window closes, and the
// next start restores them. The switch itself is always remembered; off, nothing else is
// saved or restored. Kept in "settings.json" in the configuration folder.
class RememberedSettings : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSaveDelayMs = 500;
    static inline const QString kFileName = QStringLiteral("settings.json");

    // pages: each traffic page with the key it is saved under.
    RememberedSettings(CPageTabCtrl *tabs, QList<std::pair<QString, CTrafficPage *>> pages, QObject *parent = nullptr);

    // Reads the file: the switch, and while it is on, the fields and the tab.
    void Restore();
    bool IsOn() const { return m_on; }
    // Saves at once: the fields when turned on, only the switch when turned off.
    void SetOn(bool on);
    // Writes a pending change now (the window closes).
    void Flush();

private:
    void OnChanged();
    void Save();

    CPageTabCtrl *m_tabs;
    QList<std::pair<QString, CTrafficPage *>> m_pages;
    QTimer m_save;
    bool m_on = false;
    bool m_restoring = false;
};
