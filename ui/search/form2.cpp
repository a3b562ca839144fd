#include "form2.h"
#include "ui_form2.h"

#include "agesearch.h"
#include "datacontrol.h"
#include "form1.h"
#include "services.h"

#include <QCloseEvent>
#include <QPointer>

// The pictures live in a static library; this makes sure they are linked in.
static void initPictures()
{
    Q_INIT_RESOURCE(resources);
}

namespace orbelant {

Form2::Form2(MessageBoxService &messages, SearchDialogShell &shell, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::Form2>())
    , m_messages(messages)
    , m_shell(shell)
{
    initPictures();
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // A tool window has no icon and no taskbar button; only the close box is offered. (The
    // fixed size is in the form; Designer has no property for the window's flags.)
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    ui->Command1->setIcon(QIcon(QStringLiteral(":/arrow.ico")));
    ui->Command2->setIcon(QIcon(QStringLiteral(":/close.gif")));

    connect(ui->Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
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

// Shows the first row of the typed age in the main window and closes the dialog. An
// empty field ends the program.
void Form2::Command1_Click()
{
    const AgeSearch search(ui->Text1->text());
    if (search.isAgeMissing()) {
        m_messages.show(QStringLiteral("Ошибка ввода! Приложение будет закрыто!"), MessageBoxService::Icon::Critical,
                        QStringLiteral("сообщение"));
        // The main window stores pending edits as it closes; when the workbook refuses
        // them and the user keeps them, that window stays open.
        m_shell.endProgram();
        return;
    }
    m_criterion = search.criterion();
    if (showRowOfAge(search))
        close();
    else
        offerAnotherTry();
}

void Form2::Command2_Click()
{
    close();
}

// Every search starts from the first row. When nothing is shown in the end, the main
// window goes back to the row it showed before.
bool Form2::showRowOfAge(const AgeSearch &search)
{
    Form1 &mainWindow = m_shell.form1();
    // A main window loaded again after it was closed would keep the program running
    // with nothing on the screen; it is shown with the row found.
    if (!mainWindow.isVisible())
        m_shell.showForm1();
    const QPointer<DataControl> source = &mainWindow.Data1();
    const qsizetype shownBefore = source->currentRecord();

    if (!source->MoveFirst() && source->hasEdits())
        return false; // the edits of the shown row were refused; the user has been told

    const Result<DataControl::FindOutcome> found = source->FindFirst(m_criterion);
    if (!found) {
        source->moveTo(shownBefore);
        m_messages.show(search.refusalMessage(found.error().message), MessageBoxService::Icon::Critical);
        return false;
    }
    if (*found == DataControl::FindOutcome::Found)
        return true;
    if (*found == DataControl::FindOutcome::KeptForEdits)
        return false; // the user has been told

    source->moveTo(shownBefore);
    const AgePlace place = search.placeOnScale(source->table());
    const QString message = search.notFoundMessage(place);
    if (place.kind != AgePlace::Kind::Within) {
        m_messages.show(message);
        return false;
    }
    // The main window can have gone while the question was open.
    return m_messages.ask(message) && source && source->moveTo(place.record);
}

void Form2::offerAnotherTry()
{
    raise();
    activateWindow();
    ui->Text1->setFocus();
    ui->Text1->selectAll();
}

} // namespace orbelant
