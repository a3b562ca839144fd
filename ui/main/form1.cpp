#include "form1.h"
#include "ui_form1.h"

#include "datacontrol.h"

#include <QCloseEvent>

// The pictures live in a static library; this makes sure they are linked in.
static void initPictures()
{
    Q_INIT_RESOURCE(resources);
}

namespace orbelant {

namespace {

// The size of the client area below the menu bar, in pixels.
constexpr QSize clientAreaSize(407, 602);

} // namespace

Form1::Form1(const PlatformServices &platform, WindowRequests &windows, SheetAccess &sheets, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::Form1>())
    , m_platform(platform)
    , m_windows(windows)
{
    initPictures();
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // Sizable, with a minimize button and no maximize button. Designer has no property for
    // the flags, and the height below the menu bar depends on the menu bar's font.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    ui->ooo->setSeparator(true);
    resize(clientAreaSize.width(), clientAreaSize.height() + ui->menubar->sizeHint().height());

    ui->Data1->setServices(sheets, m_platform.messages);
    bindFields();
    setPictures();
    connectCommands();
}

Form1::~Form1() = default;

void Form1::load()
{
    Form_Load();
    ui->Data1->Refresh();
}

DataControl &Form1::Data1()
{
    return *ui->Data1;
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (!ui->Data1->prepareToClose()) {
        event->ignore();
        return;
    }
    event->accept();
    emit unloaded();
}

void Form1::Form_Load()
{
    ui->Data1->setDatabaseName(QStringLiteral("зендра.xls"));
}

void Form1::bindFields()
{
    DataControl &source = *ui->Data1;
    source.bindField(ui->Text1, QStringLiteral("Возраст"));
    source.bindField(ui->Text2, QStringLiteral("Эонотема"));
    source.bindField(ui->Text3, QStringLiteral("Эратема"));
    source.bindField(ui->Text4, QStringLiteral("Система"));
    source.bindField(ui->Text5, QStringLiteral("Отдел"));
    source.bindField(ui->Text6, QStringLiteral("Ярус"));
    source.bindField(ui->Text7, QStringLiteral("Органический мир"));
}

void Form1::setPictures()
{
    const struct {
        QPushButton *button;
        QString resource;
    } pictures[] = {
        {ui->Command1, QStringLiteral(":/binoculars.ico")},
        {ui->Command2, QStringLiteral(":/printer.bmp")},
        {ui->Command3, QStringLiteral(":/floppy.bmp")},
        {ui->Command4, QStringLiteral(":/refresh.bmp")},
        {ui->Command5, QStringLiteral(":/question.ico")},
        {ui->Command6, QStringLiteral(":/close.gif")},
    };
    for (const auto &picture : pictures)
        picture.button->setIcon(QIcon(picture.resource));
}

void Form1::connectCommands()
{
    connect(ui->find, &QAction::triggered, this, &Form1::find_Click);
    connect(ui->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(ui->print, &QAction::triggered, this, &Form1::print_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(ui->save, &QAction::triggered, this, &Form1::save_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(ui->refresh, &QAction::triggered, this, &Form1::refresh_Click);
    connect(ui->Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(ui->exit, &QAction::triggered, this, &Form1::exit_Click);
    connect(ui->Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(ui->avtor, &QAction::triggered, this, &Form1::avtor_Click);
    connect(ui->Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(ui->chart, &QAction::triggered, this, &Form1::chart_Click);
}

ShownRow Form1::shownRow() const
{
    return ShownRow{ui->Text1->text(), ui->Text2->text(), ui->Text3->text(), ui->Text4->text(),
                    ui->Text5->text(), ui->Text6->text(), ui->Text7->toPlainText()};
}

void Form1::reportFailure(const ServiceResult &result)
{
    if (!result)
        m_platform.messages.show(result.error(), MessageBoxService::Icon::Critical);
}

// Event procedures. A menu item and its button run the same steps, each in its own
// procedure.

void Form1::find_Click()
{
    m_windows.showForm2();
}

void Form1::Command1_Click()
{
    m_windows.showForm2();
}

// The client area, without title bar and menu bar, as one page on the default printer.
void Form1::print_Click()
{
    reportFailure(m_platform.printer.print(*ui->clientArea));
}

void Form1::Command2_Click()
{
    reportFailure(m_platform.printer.print(*ui->clientArea));
}

// The shown row, typing included, appended to info.dat as one line.
void Form1::save_Click()
{
    m_saved = shownRow();
    reportFailure(m_platform.textFile.appendLine(exportFileName(), exportTexts(m_saved)));
}

void Form1::Command3_Click()
{
    m_saved = shownRow();
    reportFailure(m_platform.textFile.appendLine(exportFileName(), exportTexts(m_saved)));
}

// Reads the workbook again and shows its first row; pending typing is stored first.
void Form1::refresh_Click()
{
    ui->Data1->Refresh();
}

void Form1::Command4_Click()
{
    ui->Data1->Refresh();
}

// Unloads this window only; the program ends when no other window is open.
void Form1::exit_Click()
{
    close();
}

void Form1::Command6_Click()
{
    close();
}

void Form1::avtor_Click()
{
    m_windows.showFrmAbout();
}

void Form1::Command5_Click()
{
    m_windows.showFrmAbout();
}

// The chart window, in step with this window's record source; a menu item only.
void Form1::chart_Click()
{
    m_windows.showChart();
}

} // namespace orbelant
