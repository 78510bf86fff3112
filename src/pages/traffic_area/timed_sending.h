#pragma once

#include <QObject>

class QCheckBox;
class QLineEdit;
class WindowTimers;

// A page's "定时发送": its check box starts and stops a numbered window timer with the
// interval of its box (at least 500 ms); every tick asks the page to send.
class TimedSending : public QObject
{
    Q_OBJECT

public:
    TimedSending(QCheckBox *check, QLineEdit *interval, int timerId, QObject *parent = nullptr);

    // The check box was clicked: start with the interval, refuse one below 500, or stop.
    void OnClicked();
    // Unticks the box and kills the timer; a refusal does this before its box.
    void Stop();
    bool IsRunning() const;

signals:
    void Tick();

private:
    QCheckBox *m_check;
    QLineEdit *m_interval;
    int m_timerId;
    WindowTimers *m_timers;
};
