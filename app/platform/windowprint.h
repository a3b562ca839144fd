#pragma once
// Printing a window's client area as one page.

#include "services.h"

class QPrinter;

namespace orbelant {

// Window geometry is designed in pixels of a 96 dpi screen (15 twips to the pixel), so
// 96 pixels of the window make one inch on paper.
inline constexpr int designPixelsPerInch = 96;

// Draws `clientArea` with its children on `printer` as one page: at its physical size,
// at the top left of the printable area (shrunk only when the page is smaller), and ends
// the job. The widget does not change. A printer that refuses the job gives a Russian
// sentence naming the printer.
ServiceResult printClientArea(QWidget &clientArea, QPrinter &printer);

// Begins a job on `printer`, lets `draw` draw its pages and ends the job. A printer that
// refuses or fails gives a Russian sentence naming the printer, ended by `notPrinted`.
ServiceResult printDrawing(QPrinter &printer, const QString &notPrinted, const WindowPrinter::PageDrawing &draw);

} // namespace orbelant
