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

Form1::Form1(const PlatformServices &platform, SheetAccess &sheets, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::Form1>())
    , m_platform(platform)
{
    initPictures();
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // Sizable, with a minimize button and no maximize button.
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
}

// The commands below arrive with the next step of the program; exit already works.
void Form1::find_Click() {}
void Form1::Command1_Click() {}
void Form1::print_Click() {}
void Form1::Command2_Click() {}
void Form1::save_Click() {}
void Form1::Command3_Click() {}
void Form1::refresh_Click() {}
void Form1::Command4_Click() {}

void Form1::exit_Click()
{
    close();
}

void Form1::Command6_Click()
{
    close();
}

void Form1::avtor_Click() {}
void Form1::Command5_Click() {}

} // namespace orbelant
