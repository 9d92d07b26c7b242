#pragma once
// The command line's side of --arm, --disarm and --status: the request goes
// to the running copy over the session bus, else over the single-instance
// channel, and comes back as the text to print and the exit status.

#include "app/CommandLine.h"

#include <optional>

struct RemoteOutcome
{
    int exitCode = 0;
    QString out; // for stdout
    QString err; // for stderr
};

// nullopt: no copy runs (or none answered). Needs a QCoreApplication.
std::optional<RemoteOutcome> SendRemoteRequest(const CommandLineOutcome &request);
// What a request means when no copy runs; nullopt for --arm (start armed).
std::optional<RemoteOutcome> NoCopyRunning(const CommandLineOutcome &request);
// "armed"/"alarm" → 0, another state → 3 (as `systemctl is-active`).
int StatusExitCode(const QString &state);
