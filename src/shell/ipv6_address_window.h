#pragma once

#include <QDialog>

#include "platform/adapters.h"

class QLabel;
class QListWidget;

// The IPv6 addresses of one adapter, read-only, beside the IP information dialog, whose
// fixed IPv4 layout leaves no room for them.
class Ipv6AddressWindow : public QDialog
{
    Q_OBJECT

public:
    explicit Ipv6AddressWindow(QWidget *parent);

    void ShowAdapter(const AdapterInfo &adapter);

private:
    QLabel *m_adapter;
    QListWidget *m_addresses;
};
