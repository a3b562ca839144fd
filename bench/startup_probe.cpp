// startup_probe: how long the program takes to show its first row, and its peak memory.
//
// Runs the start-up of app/main.cpp (application, platform services, engine, shell,
// Form1 with "зендра.xls" from the working folder) and stops at the first paint of Text1
// once it holds the first row's age. Prints, one "name value" pair a line:
//   process_to_main_ms   process start (from /proc/self/stat, in 10 ms clock ticks) to main()
//   main_to_row_ms       main() to that paint
//   process_to_row_ms    the two together
//   peak_kib             peak resident memory of the whole run
// Exit status 2 when no row was shown within the time limit.

#include "application.h"
#include "datacontrol.h"
#include "form1.h"
#include "program.h"
#include "shell.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

// The program icon, as app/main.cpp sets it (outside any namespace, for Q_INIT_RESOURCE).

namespace {

constexpr int GiveUpAfterMs = 60'000;

// Milliseconds from the start of this process to now, from the kernel's start time of the
// process (clock ticks since boot) and the boot-time clock.
std::optional<double> msSinceProcessStart()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // The command name in parentheses may hold spaces; the fields after it do not.
    const qsizetype nameEnd = line.lastIndexOf(')');
    if (nameEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(nameEnd + 2).split(' ');
    constexpr qsizetype StartTimeField = 22 - 3; // field 22 of the line, counting from field 3
    if (fields.size() <= StartTimeField)
        return std::nullopt;
    bool isNumber = false;
    const qulonglong startTicks = fields[StartTimeField].toULongLong(&isNumber);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (!isNumber || ticksPerSecond <= 0)
        return std::nullopt;
    const double nowMs = static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    return nowMs - static_cast<double>(startTicks) * 1e3 / static_cast<double>(ticksPerSecond);
}

// Watches Text1 and ends the event loop at its first paint that shows the first row.
class FirstRowWatch final : public QObject {
public:
    FirstRowWatch(orbelant::Form1 &form, QLineEdit &field, const QElapsedTimer &sinceMain)
        : m_form(form)
        , m_field(field)
        , m_sinceMain(sinceMain)
    {
        m_field.installEventFilter(this);
    }

    std::optional<double> shownAfterMs() const { return m_shownAfterMs; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_field && event->type() == QEvent::Paint && !m_shownAfterMs && showsFirstRow()) {
            m_shownAfterMs = static_cast<double>(m_sinceMain.nsecsElapsed()) / 1e6;
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
        return false;
    }

private:
    bool showsFirstRow() const
    {
        const orbelant::DataControl &source = m_form.Data1();
        if (!m_form.isVisible() || source.currentRecord() != 0)
            return false;
        const qsizetype ageColumn = source.table().columnIndex(u"Возраст");
        return ageColumn >= 0 && !m_field.text().isEmpty() && m_field.text() == source.table().text(0, ageColumn);
    }

    orbelant::Form1 &m_form;
    QLineEdit &m_field;
    const QElapsedTimer &m_sinceMain;
    std::optional<double> m_shownAfterMs;
};

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    const std::optional<double> processToMain = msSinceProcessStart();

    orbelant::Application app(argc, argv);
    orbelant::Program program(app); // as the program's own main() builds it
    orbelant::Shell &shell = program.shell();
    // The window is created and loaded before it is shown, as Shell::start() does it.
    orbelant::Form1 &form = shell.form1();
    auto *text1 = form.findChild<QLineEdit *>(QStringLiteral("Text1"));
    if (!text1) {
        std::fprintf(stderr, "startup_probe: Form1 has no Text1\n");
        return 2;
    }
    FirstRowWatch watch(form, *text1, sinceMain);
    shell.start();
    QTimer::singleShot(GiveUpAfterMs, &app, [] { QCoreApplication::exit(2); });
    const int status = app.exec();

    if (status != 0 || !watch.shownAfterMs()) {
        std::fprintf(stderr, "startup_probe: no first row shown within %d ms\n", GiveUpAfterMs);
        return 2;
    }
    if (processToMain)
        std::printf("process_to_main_ms %.1f\n", *processToMain);
    std::printf("main_to_row_ms %.1f\n", *watch.shownAfterMs());
    if (processToMain)
        std::printf("process_to_row_ms %.1f\n", *processToMain + *watch.shownAfterMs());
    std::printf("records %lld\n", static_cast<long long>(form.Data1().recordCount()));
    std::printf("peak_kib %ld\n", peakKiB());
    return 0;
}
