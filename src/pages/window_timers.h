#pragma once

#include <QHash>
#include <QObject>

class QTimer;

// Numbered window timers: a page starts timer 2 or 6 by id and gets Timeout(id) back.
// Starting an id that runs replaces it.
class WindowTimers : public QObject
{
    Q_OBJECT

public:
    explicit WindowTimers(QObject *parent = nullptr);

    void SetTimer(int id, int intervalMs);
    void KillTimer(int id);
    bool IsRunning(int id) const;

signals:
    void Timeout(int id);

private:
    QHash<int, QTimer *> m_timers;
};
