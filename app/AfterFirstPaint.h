#pragma once
// Work that need not hold up the window's first appearance: it runs, in the
// order it was added, once the window has been painted for the first time
// (right after that paint reached the screen), or a second after it was
// shown when no paint comes (a window that starts minimised).

#include <QObject>
#include <QTimer>
#include <functional>
#include <vector>

class QWidget;

class AfterFirstPaint : public QObject
{
public:
    explicit AfterFirstPaint(QWidget *window);

    // Runs the job later, or at once when the window was painted already.
    void add(std::function<void()> job);
    // Runs what waits now (nothing when nothing waits); later jobs run at once.
    void runNow();
    bool done() const { return m_done; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::vector<std::function<void()>> m_jobs;
    QTimer m_fallback;
    bool m_done = false;
};
