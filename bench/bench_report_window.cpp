// The report window on a 50 MB report: time from creation to shown with
// its rows, and the memory it takes, against the same window on a one-line
// report in the same run. Targets: <= 1 s and <= 100 MB more.

#include "bench/BenchHome.h"
#include "report/ReportLinesModel.h"
#include "report/fmReport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <cstdio>

namespace {

struct Opening
{
    double ms = 0;
    double mb = 0;
    int rows = 0;
};

Opening Open(const QString &path)
{
    const double before = bench::RssMb();
    QElapsedTimer timer;
    timer.start();
    TfrmReport window;
    window.LoadReport(path);
    window.show();
    window.ListBox1->scrollToBottom();
    QApplication::processEvents();
    Opening result{timer.nsecsElapsed() / 1e6, bench::RssMb() - before, window.lines()->rowCount()};
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    const bench::Home home;
    QApplication app(argc, argv);
    const QString small = home.path() + QStringLiteral("/small/Report.txt");
    const QString large = home.path() + QStringLiteral("/large/Report.txt");
    bench::WriteReport(small, 40);
    bench::WriteReport(large, 50ll << 20);
    Open(small); // warm-up: fonts and styles
    const Opening a = Open(small);
    const Opening b = Open(large);
    std::printf("report window, 50 MB report (%d lines): %.0f ms, +%.1f MB resident; one-line "
                "report: %.0f ms, +%.1f MB (targets <= 1000 ms, <= 100 MB)\n",
                b.rows, b.ms, b.mb, a.ms, a.mb);
    return 0;
}
