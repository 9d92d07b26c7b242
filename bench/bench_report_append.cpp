// The report: the cost of one new line with a 1 KB, a 20 MB and a 100 MB
// report (a bare append and flush of the same line, same run, is the
// baseline), and the resident memory that loading a 100 MB report takes
// (target: base + 1.2x the report's size).

#include "bench/BenchHome.h"
#include "report/ReportLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

double AppendMs(const QString &folder, qint64 size)
{
    bench::WriteReport(folder + QStringLiteral("Report.txt"), size);
    ReportLog log(folder);
    int minute = 0;
    log.setClock(
        [&minute] { return QDateTime(QDate(2026, 12, 6), QTime(0, 0)).addSecs(60 * minute++); });
    log.Load();
    std::vector<double> times;
    for (int i = 0; i < 25; ++i) {
        QElapsedTimer timer;
        timer.start();
        log.AddToReport(QStringLiteral("Mouse detected"));
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return bench::Median(times);
}

double BareAppendMs(const QString &path)
{
    const QByteArray line("[06.12.26 09:05] Mouse detected\r\n");
    std::vector<double> times;
    for (int i = 0; i < 25; ++i) {
        QElapsedTimer timer;
        timer.start();
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT, 0644);
        if (fd < 0 || ::write(fd, line.constData(), size_t(line.size())) != line.size())
            std::abort();
        ::fdatasync(fd);
        ::close(fd);
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return bench::Median(times);
}

} // namespace

int main(int argc, char **argv)
{
    const bench::Home home;
    QCoreApplication app(argc, argv);

    const double bare = BareAppendMs(home.path() + QStringLiteral("/bare.txt"));
    std::printf("one report line, median of 25 (bare append + flush of a line: %.3f ms):\n", bare);
    const std::pair<const char *, qint64> sizes[] = {
        {"1 KB", 1024}, {"20 MB", 20ll << 20}, {"100 MB", 100ll << 20}};
    for (const auto &[name, size] : sizes) {
        const QString folder = home.path() + QStringLiteral("/%1/Reports/").arg(size);
        std::printf("  %-7s report: %.3f ms\n", name, AppendMs(folder, size));
        QDir(home.path() + QStringLiteral("/%1").arg(size)).removeRecursively();
    }

    const QString folder = home.path() + QStringLiteral("/load/Reports/");
    const qint64 size = 100ll << 20;
    bench::WriteReport(folder + QStringLiteral("Report.txt"), size);
    const double base = bench::RssMb();
    ReportLog log(folder);
    QElapsedTimer timer;
    timer.start();
    log.Load();
    const double loadMs = timer.nsecsElapsed() / 1e6;
    const double loaded = bench::RssMb();
    const double mb = double(size) / (1 << 20);
    std::printf("loading a 100 MB report (%d lines): %.0f ms, resident %.1f MB -> %.1f MB: "
                "+%.1f MB = %.2fx the report (target <= 1.2x)\n",
                log.count(), loadMs, base, loaded, loaded - base, (loaded - base) / mb);
    return 0;
}
