#pragma once

#include <QStringList>
#include <QWidget>

class MulticastMemberships;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;

// "组播…" of the UDP server page: the groups its socket joins, on which interface, listed with
// the interfaces they are joined on; the hop limit and loopback of its sends to a group.
// Closing it changes nothing; the button shows it again.
class MulticastWindow : public QWidget
{
    Q_OBJECT

public:
    MulticastWindow(MulticastMemberships &memberships, QWidget *page);

    // The page's host addresses: each offers its interface for a join.
    void SetHostAddresses(const QStringList &addresses);

signals:
    // "发往该组": the page makes the group a destination of its sends.
    void SendToGroupRequested(const QString &group);

private:
    void OnJoin();
    void OnLeave();
    void OnSendToGroup();
    void OnMembershipsChanged();
    void Refuse(const QString &text);

    MulticastMemberships &m_memberships;
    QLabel *m_state;
    QLineEdit *m_group;
    QComboBox *m_interface;
    QListWidget *m_groups;
    QSpinBox *m_hops;
    QCheckBox *m_loopback;
};
