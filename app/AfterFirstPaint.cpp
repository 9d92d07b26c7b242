#include "app/AfterFirstPaint.h"

#include <QEvent>
#include <QWidget>
#include <utility>

namespace {
constexpr int FallbackMilliseconds = 1000;
}

AfterFirstPaint::AfterFirstPaint(QWidget *window) : QObject(window)
{
    m_fallback.setSingleShot(true);
    connect(&m_fallback, &QTimer::timeout, this, &AfterFirstPaint::runNow);
    window->installEventFilter(this);
}

void AfterFirstPaint::add(std::function<void()> job)
{
    if (m_done)
        job();
    else
        m_jobs.push_back(std::move(job));
}

void AfterFirstPaint::runNow()
{
    if (m_done)
        return;
    m_done = true;
    m_fallback.stop();
    parent()->removeEventFilter(this);
    // A job that adds another runs it at once.
    for (std::function<void()> &job : std::exchange(m_jobs, {}))
        job();
}

bool AfterFirstPaint::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && !m_done) {
        if (event->type() == QEvent::Show && !m_fallback.isActive())
            m_fallback.start(FallbackMilliseconds);
        else if (event->type() == QEvent::Paint)
            // Queued: the paint and its flush to the screen finish first.
            QTimer::singleShot(0, this, &AfterFirstPaint::runNow);
    }
    return false;
}
