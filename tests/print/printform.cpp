// The main window's print command against the system's default printer, for the spooler
// test (test_cups_print.sh). Run in a folder that holds зендра.xls.
//
//   printform print          prints the window on its second row through the print menu
//                            item, with the real print service; exit 1 with the message
//                            on stderr when the command reports a failure
//   printform check PAGE.png checks a page rasterised at 300 dpi from the printed PDF:
//                            the window's picture at its size at the top left of the
//                            default printer's printable area, showing the second row

#include "application.h"
#include "datacontrol.h"
#include "form1.h"
#include "pagecheck.h"

#include <QPageLayout>
#include "programinfo.h"
#include "realplatform.h"
#include "sheetaccess.h"

#include <QAction>
#include <QPrinter>
#include <QPrinterInfo>
#include <cstdio>

using namespace orbelant;

namespace {

// Writes what the window would show in a message box to stderr instead.
class StderrMessageBox final : public MessageBoxService {
public:
    void show(const QString &text, Icon, const QString &) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        ++shown;
    }
    bool ask(const QString &text, const QString &) override
    {
        show(text, Icon::None, {});
        return false;
    }
    int shown = 0;
};

class NoWindows final : public WindowRequests {
public:
    void showForm2() override {}
    void showFrmAbout() override {}
};

int checkPage(Form1 &form, const QString &pagePath)
{
    const int dotsPerInch = 300;
    const QImage page(pagePath);
    if (page.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(pagePath));
        return 1;
    }
    QPrinter printer(QPrinterInfo::defaultPrinter(), QPrinter::HighResolution);
    // The picture belongs at the top left of what the printer can print.
    QPageLayout layout = printer.pageLayout();
    layout.setUnits(QPageLayout::Point);
    const QMarginsF printable = layout.minimumMargins();
    const QPoint origin = (QPointF(printable.left(), printable.top()) * dotsPerInch / 72.0).toPoint();
    QWidget &clientArea = *form.centralWidget();
    const QImage shown = testsupport::printedLook(clientArea, dotsPerInch);
    form.Data1().MovePrevious();
    const QImage otherRow = testsupport::printedLook(clientArea, dotsPerInch);
    const QString problem = testsupport::pageProblem(
        page, origin, dotsPerInch, shown, otherRow,
        testsupport::fieldRects(clientArea, {"Text1", "Text2", "Text3", "Text4", "Text5", "Text6", "Text7"}));
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return 1;
    }
    std::printf("page holds the window on row 2 at %d,%d (300 dpi)\n", origin.x(), origin.y());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2 || (arguments[1] == QLatin1String("check") && arguments.size() < 3)) {
        std::fprintf(stderr, "usage: printform print | printform check PAGE.png\n");
        return 2;
    }

    RealPlatform real(programTitle());
    const PlatformServices realServices = real.services();
    StderrMessageBox messages;
    const PlatformServices services{messages, realServices.printer, realServices.textFile,
                                    realServices.codePage, realServices.files, realServices.processes};
    EngineSheetAccess sheets;
    NoWindows windows;
    Form1 form(services, windows, sheets);
    form.load();
    form.show();
    if (messages.shown > 0 || !form.Data1().MoveNext())
        return 1;

    if (arguments[1] == QLatin1String("check"))
        return checkPage(form, arguments[2]);

    std::printf("printer %s\n", qPrintable(QPrinterInfo::defaultPrinter().printerName()));
    form.findChild<QAction *>(QStringLiteral("print"))->trigger();
    return messages.shown > 0 ? 1 : 0;
}
