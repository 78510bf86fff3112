#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// Runs an action (a repaint, a counter refresh) at most about 60 times a second however
// often it is asked for: at once when the last run is a frame or more ago, otherwise once
// when that frame is over. Under a flood the screen follows at frame rate instead of
// costing one repaint per received block.
class PacedAction : public QObject
{
    Q_OBJECT

public:
    static constexpr int kFrameMs = 16;

    explicit PacedAction(std::function<void()> action, QObject *parent = nullptr);

    void Request();
    // Runs a pending request now (for a change the user must see at once).
    void Flush();

private:
    void Run();

    std::function<void()> m_action;
    QTimer m_timer;
    QElapsedTimer m_lastRun;
};
