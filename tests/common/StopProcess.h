#pragma once
// Ends a helper process a test started with QProcess: asked to end first,
// killed when it does not within grace.

#include <QProcess>

namespace tarvo::test {

inline void stopProcess(QProcess &process, int graceMs = 5000)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(graceMs)) {
        process.kill();
        process.waitForFinished(graceMs);
    }
}

} // namespace tarvo::test
