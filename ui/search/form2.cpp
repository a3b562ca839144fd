#include "form2.h"
#include "ui_form2.h"

#include <QCloseEvent>

namespace orbelant {

Form2::Form2(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::Form2>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // A tool window has no icon and no taskbar button; only the close box is offered.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
}

Form2::~Form2() = default;

void Form2::load()
{
}

void Form2::closeEvent(QCloseEvent *event)
{
    event->accept();
    emit unloaded();
}

} // namespace orbelant
