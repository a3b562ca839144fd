#include "frmabout.h"
#include "ui_frmabout.h"

#include "sysinfoadapters.h"
#include "sysinfolauncher.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPixmap>

// The pictures live in a static library; this makes sure they are linked in.
static void initPictures()
{
    Q_INIT_RESOURCE(resources);
}

namespace orbelant {

namespace {

// Where the client area's top left corner is placed on the screen, in pixels.
constexpr QPoint screenPosition(156, 129);

} // namespace

frmAbout::frmAbout(const PlatformServices &platform, std::unique_ptr<sysinfo::Registry> registry,
                   ProgramVersion version, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::frmAbout>())
    , m_platform(platform)
    , m_registry(std::move(registry))
    , m_version(version)
{
    initPictures();
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // A dialog with no icon and no minimize or maximize button; without an owner it is still
    // a dialog, which window managers keep out of the taskbar. Its fixed size is in the form;
    // Designer has no property for the window's flags, and uic applies only the size of a
    // form's geometry, not its place on the screen.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setGeometry(QRect(screenPosition, size()));
    ui->picIcon->setPixmap(QPixmap(QStringLiteral(":/about.bmp")));

    connect(ui->cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(ui->cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
}

frmAbout::~frmAbout() = default;

void frmAbout::load()
{
    Form_Load();
}

void frmAbout::closeEvent(QCloseEvent *event)
{
    event->accept();
    emit unloaded();
}

void frmAbout::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        ui->cmdOK->click();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

// The captions stored with the box ("About MyApp", "Version", "Application Title") are
// replaced every time the box is created.
void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + programTitle());
    ui->lblVersion->setText(QStringLiteral("Version ") + integerText(static_cast<qint16>(m_version.major))
                            + QLatin1Char('.') + integerText(static_cast<qint16>(m_version.minor))
                            + QLatin1Char('.') + integerText(static_cast<qint16>(m_version.revision)));
    ui->lblTitle->setText(programTitle());
}

void frmAbout::StartSysInfo()
{
    SysInfoFileTestAdapter files(m_platform.files);
    SysInfoProcessAdapter processes(m_platform.processes);
    SysInfoMessageAdapter messages(m_platform.messages);
    sysinfo::SysInfoLauncher(*m_registry, files, processes, messages).StartSysInfo();
}

void frmAbout::cmdOK_Click()
{
    close();
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}

} // namespace orbelant
