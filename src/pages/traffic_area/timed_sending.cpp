#include "pages/traffic_area/timed_sending.h"

#include <QCheckBox>
#include <QLineEdit>

#include <algorithm>
#include <climits>

#include "pages/dialog_controls.h"
#include "pages/message_box.h"
#include "pages/window_timers.h"

TimedSending::TimedSending(QCheckBox *check, QLineEdit *interval, int timerId, QObject *parent)
    : QObject(parent)
    , m_check(check)
    , m_interval(interval)
    , m_timerId(timerId)
    , m_timers(new WindowTimers(this))
{
    connect(m_timers, &WindowTimers::Timeout, this, [this](int id) {
        if (id == m_timerId)
            emit Tick();
    });
}

void TimedSending::OnClicked()
{
    if (!m_check->isChecked()) {
        m_timers->KillTimer(m_timerId);
        return;
    }
    // Compared as unsigned: a negative number is a huge interval, not a refusal.
    const auto interval = static_cast<unsigned>(ReadNumber(m_interval));
    if (interval > 499)
        m_timers->SetTimer(m_timerId, static_cast<int>(std::min<unsigned>(interval, INT_MAX)));
    else
        AppMessageBox(QStringLiteral("发送时间间隔太短!"));
}

void TimedSending::Stop()
{
    m_check->setChecked(false);
    m_timers->KillTimer(m_timerId);
}

bool TimedSending::IsRunning() const
{
    return m_timers->IsRunning(m_timerId);
}
