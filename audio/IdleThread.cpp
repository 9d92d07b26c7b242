#include "audio/IdleThread.h"

#include "audio/AudioEngine.h"

#include <pthread.h>

namespace audio {

IdleThread::IdleThread(const char *name, std::chrono::milliseconds tick,
                       std::function<bool()> round)
    : m_name(name), m_tick(tick), m_round(std::move(round))
{
}

IdleThread::~IdleThread()
{
    stop();
}

void IdleThread::poke()
{
    const std::lock_guard lock(m_mutex);
    m_poked = true;
    if (m_thread.joinable() && m_gone) {
        // It has left its loop and only returns: the join is short.
        m_thread.join();
        m_gone = false;
    }
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    m_wake.notify_one();
}

void IdleThread::stop()
{
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
    m_quit = false;
    m_gone = false;
}

void IdleThread::run()
{
    pthread_setname_np(pthread_self(), m_name);
    for (;;) {
        {
            // A poke from now on asks for another round after this one.
            const std::lock_guard lock(m_mutex);
            m_poked = false;
        }
        const bool busy = m_round();
        std::unique_lock lock(m_mutex);
        const auto woken = [this] { return m_quit || m_poked; };
        if (busy) {
            m_wake.wait_for(lock, m_tick, woken);
        } else if (!woken()) {
            m_gone = true;
            break;
        }
        if (m_quit)
            break;
    }
    AudioEngine::releaseThreadState();
}

} // namespace audio
