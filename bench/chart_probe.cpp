// chart_probe: how long the chart window takes to its first painted frame, and what scrolling
// it draws.
//
// Starts the program as app/main.cpp does, on "зендра.xls" of the working folder. Once the main
// window shows its first row, opens the chart from the main window's menu OPENINGS times
// (default 7), closing it in between; each is timed from the menu command to the end of the
// chart's first paint. Then it scrolls the last chart a page at a time and times each repaint.
// Prints, one "name value" pair a line:
//   records            rows of the sheet
//   open_first_ms      the first opening (cold caches)
//   open_median_ms     median of all openings
//   scroll_median_ms   median repaint after a page of scrolling
//   rows_painted       rows drawn by the last of those repaints
// Exit status 2 when a chart was not painted within the time limit.

#include "application.h"
#include "chartview.h"
#include "datacontrol.h"
#include "form1.h"
#include "frmchart.h"
#include "program.h"
#include "shell.h"

#include <QAction>
#include <QElapsedTimer>
#include <QEvent>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int GiveUpAfterMs = 60'000;
constexpr int ScrollSteps = 25;

// Notes the end of the first paint of a chart's viewport.
class FirstPaint final : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (painted || event->type() != QEvent::Paint || !qobject_cast<orbelant::ChartView *>(watched->parent()))
            return false;
        static_cast<QObject *>(watched)->event(event); // paint it now, to time it whole
        painted = true;
        return true;
    }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double elapsedMs(const QElapsedTimer &timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    orbelant::Application app(argc, argv);
    orbelant::Program program(app);
    orbelant::Shell &shell = program.shell();
    shell.start();
    QCoreApplication::processEvents();
    const int openings = qEnvironmentVariableIsSet("OPENINGS") ? std::max(1, qEnvironmentVariableIntValue("OPENINGS")) : 7;

    std::vector<double> opened;
    for (int opening = 0; opening < openings; ++opening) {
        if (shell.chartExists()) {
            shell.chart().close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        FirstPaint watch;
        app.installEventFilter(&watch);
        QElapsedTimer timer;
        timer.start();
        shell.form1().findChild<QAction *>(QStringLiteral("chart"))->trigger();
        while (!watch.painted && timer.elapsed() < GiveUpAfterMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        opened.push_back(elapsedMs(timer));
        app.removeEventFilter(&watch);
        if (!watch.painted) {
            std::fprintf(stderr, "chart_probe: the chart was not painted within %d ms\n", GiveUpAfterMs);
            return 2;
        }
    }

    orbelant::ChartView &view = shell.chart().picChart();
    QScrollBar &scroll = *view.verticalScrollBar();
    std::vector<double> scrolled;
    for (int step = 1; step <= ScrollSteps; ++step) {
        scroll.setValue(scroll.maximum() * step / ScrollSteps);
        QElapsedTimer timer;
        timer.start();
        view.viewport()->repaint();
        scrolled.push_back(elapsedMs(timer));
    }

    std::printf("records %lld\n", static_cast<long long>(shell.form1().Data1().recordCount()));
    std::printf("open_first_ms %.1f\n", opened.front());
    std::printf("open_median_ms %.1f\n", median(opened));
    std::printf("scroll_median_ms %.2f\n", median(scrolled));
    std::printf("rows_painted %lld\n", static_cast<long long>(view.paintedRows()));
    return 0;
}
