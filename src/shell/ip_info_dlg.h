#pragma once

#include <QDialog>
#include <QList>

#include <functional>
#include <optional>

#include "platform/adapters.h"

class Ipv4AddressEdit;
class Ipv6AddressWindow;
class QComboBox;
class QToolButton;

// Shows the IPv4 configuration of the machine's adapters, read-only: pick an adapter by its
// description to see its first address, its mask and its default gateway. Where an adapter
// has IPv6 addresses, the IPv6 button shows the picked adapter's in a window of their own.
class CIpInfoDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 146;
    using AdapterFetch = std::function<std::optional<QList<AdapterInfo>>()>;

    // fetch gives the adapter list; FetchAdapters when none is given.
    explicit CIpInfoDlg(QWidget *parent = nullptr, AdapterFetch fetch = {});

    QWidget *GetDlgItem(int id) const;

private:
    void OnInitDialog();
    void FillAdapterControls();
    void OnAdapterChanged();
    void ShowAdapter(const AdapterInfo &adapter);
    void AddIpv6Button();
    void OnShowIpv6();

    QComboBox *m_adapters;
    Ipv4AddressEdit *m_ipAddress;
    Ipv4AddressEdit *m_ipMask;
    Ipv4AddressEdit *m_gateway;
    // Only while some adapter has IPv6 addresses; the window once it was asked for.
    QToolButton *m_ipv6Button = nullptr;
    Ipv6AddressWindow *m_ipv6Window = nullptr;
    AdapterInfo m_shownAdapter;
    AdapterFetch m_fetch;
    // The fetched list while the dialog is open; nothing when the fetch failed.
    std::optional<QList<AdapterInfo>> m_pAdapterInfo;
};
