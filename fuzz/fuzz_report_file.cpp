// The report file of any content: splitting into lines keeps every byte
// that is not a line end, and loading the file gives the same lines.

#include "fuzz/FuzzHome.h"
#include "report/ReportLog.h"

#include <QDir>
#include <cstdlib>

namespace {
QString gFolder;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    gFolder = tarvo::fuzz::prepareHome() + QStringLiteral("/Reports/");
    QDir().mkpath(gFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<QByteArray> lines = ReportLog::SplitLines(bytes);
    qsizetype kept = 0;
    for (const QByteArray &line : lines) {
        if (line.contains('\n') || line.contains('\r'))
            std::abort(); // a line end left inside a line
        kept += line.size();
    }
    if (kept != bytes.size() - bytes.count('\n') - bytes.count('\r'))
        std::abort(); // bytes lost or made up

    ReportLog log(gFolder);
    if (!tarvo::fuzz::writeFile(log.filePath(), bytes.constData(), size))
        return 0;
    log.Load();
    if (log.count() != lines.size())
        std::abort();
    (void)ReportLog::ReadReportFile(log.filePath());
    return 0;
}
