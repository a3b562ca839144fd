#pragma once
// The services the windows take from the GUI runtime and the operating system, each
// behind a small interface so that windows can be tested with fakes. The real
// implementations are chosen once, in app/main.cpp.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <expected>
#include <functional>

class QPagedPaintDevice;
class QPainter;
class QWidget;

namespace orbelant {

// What a service call that can fail gives back: nothing, or a Russian sentence for the user.
using ServiceResult = std::expected<void, QString>;

class MessageBoxService {
public:
    enum class Icon { None, Critical };

    virtual ~MessageBoxService() = default;
    // A modal box with an OK button; returns when the user has dismissed it. Without a
    // caption the program title is used.
    virtual void show(const QString &text, Icon icon = Icon::None, const QString &caption = {}) = 0;
    // A modal box with the buttons Да and Нет; true when the user chose Да.
    virtual bool ask(const QString &text, const QString &caption = {}) = 0;
};

class WindowPrinter {
public:
    virtual ~WindowPrinter() = default;
    // The image of `clientArea` as one page on the default printer, at the size it has on
    // a 96 dpi screen, at the top left of the printable area; the job is ended.
    virtual ServiceResult print(QWidget &clientArea) = 0;

    // Draws pages with the painter it is given, each page after the first begun with
    // newPage() on the device.
    using PageDrawing = std::function<void(QPainter &painter, QPagedPaintDevice &pages)>;
    // A document of pages on the default printer, the job ended. Every failure's sentence
    // ends with `notPrinted` ("Шкала не напечатана.").
    virtual ServiceResult printPages(const QString &documentName, const QString &notPrinted,
                                     const PageDrawing &draw) = 0;
};

// Converts texts to and from the system's 8-bit code page.
class CodePage {
public:
    virtual ~CodePage() = default;
    // Characters the code page has no byte for become '?'.
    virtual QByteArray fromUnicode(QStringView text) const = 0;
    virtual QString toUnicode(QByteArrayView bytes) const = 0;
};

class TextFileService {
public:
    virtual ~TextFileService() = default;
    // Opens `path` for appending (creating it when missing), writes `texts` one after
    // another in the 8-bit code page, ends the line with CR LF and closes the file. The
    // line goes out whole or not at all; the file is closed either way. A failure gives a
    // Russian sentence that names the file and the reason.
    virtual ServiceResult appendLine(const QString &path, const QStringList &texts) = 0;
};

class FileTest {
public:
    virtual ~FileTest() = default;
    // The file's name when a file exists at `path`, otherwise the empty text.
    virtual QString existingFileName(const QString &path) const = 0;
};

class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // Starts the program at `path` in a normal window and returns at once.
    virtual ServiceResult start(const QString &path) = 0;
};

// The shell's window operations that a window's procedures call. Each shows its window
// modeless and without an owner: created and loaded on first use, brought to the front
// when it is already open.
class WindowRequests {
public:
    virtual ~WindowRequests() = default;
    virtual void showForm2() = 0;    // the age search dialog
    virtual void showFrmAbout() = 0; // the About box
    virtual void showChart() = 0;    // the chart window
};

// Decimal digits, a minus sign when negative, no leading space.
inline QString integerText(qint16 value)
{
    return QString::number(value);
}

// The set of services a window is given.
struct PlatformServices {
    MessageBoxService &messages;
    WindowPrinter &printer;
    TextFileService &textFile;
    CodePage &codePage;
    FileTest &files;
    ProcessStarter &processes;
};

} // namespace orbelant
