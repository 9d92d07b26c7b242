#pragma once
// A worker thread that ends by itself when it runs out of work, so that an
// idle program runs none, and is started again by the next poke. Each round
// of work says whether more is to come: while it does, the thread waits for
// a poke or for the tick and goes round again; when it does not and nobody
// poked meanwhile, the thread ends (joined by the next poke or by stop()).
// A thread of ours that ends releases what SDL kept for it
// (AudioEngine::releaseThreadState), whether or not it called SDL.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace audio {

class IdleThread
{
public:
    // name: at most 15 characters, shown by ps and in /proc.
    IdleThread(const char *name, std::chrono::milliseconds tick, std::function<bool()> round);
    ~IdleThread();
    IdleThread(const IdleThread &) = delete;
    IdleThread &operator=(const IdleThread &) = delete;

    // Starts the thread if it is not running (joining one that ended) and
    // wakes it for another round.
    void poke();
    // Ends the thread and waits for it; a later poke starts it again.
    void stop();

private:
    void run();

    const char *m_name;
    std::chrono::milliseconds m_tick;
    std::function<bool()> m_round;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_quit = false;
    bool m_poked = false;
    bool m_gone = false; // left its loop; only returns
};

} // namespace audio
