#pragma once
// A shared library loaded when it is first needed instead of with the
// program (each library linked in costs every start time in the dynamic
// loader): its functions are looked up by name into a table of typed
// pointers, once per process.

#include <QLibrary>
#include <QString>
#include <mutex>

// Sets into to the library's function symbol; false when it has none.
template <typename Function> bool ResolveInto(QLibrary &library, const char *symbol, Function &into)
{
    into = reinterpret_cast<Function>(library.resolve(symbol));
    return into != nullptr;
}

// Runs load(table, failure) once per process, from whichever thread asks
// first; later calls get its outcome. The filled table, or nullptr with
// load's failure text in *problem.
template <typename Table, typename Load> const Table *LoadOnce(QString *problem, Load load)
{
    static std::once_flag once;
    static Table table;
    static QString failure;
    static bool loaded = false;
    std::call_once(once, [&] { loaded = load(table, failure); });
    if (!loaded && problem)
        *problem = failure;
    return loaded ? &table : nullptr;
}
