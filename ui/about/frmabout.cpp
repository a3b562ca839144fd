#include "frmabout.h"
#include "ui_frmabout.h"

#include "programinfo.h"

#include <QCloseEvent>

namespace orbelant {

frmAbout::frmAbout(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::frmAbout>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // A fixed dialog: no icon, no minimize or maximize button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
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

// The stored caption "About MyApp" gets the program's title.
void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + programTitle());
}

} // namespace orbelant
