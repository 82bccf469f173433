#include "daemon/restart_policy.h"

#include <cmath>

std::optional<RestartPolicy::Seconds> RestartPolicy::restartDelay(TimePoint now)
{
    if (!m_lastRestartTime || Seconds(now - *m_lastRestartTime) > window)
        m_restartCount = 0;
    else if (m_restartCount >= maxRestartsPerMinute)
        return std::nullopt;
    ++m_restartCount;
    m_lastRestartTime = now;
    return Seconds(std::exp2(double(m_restartCount - 1)));
}
