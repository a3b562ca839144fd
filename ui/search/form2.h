#pragma once
// The age search dialog: a fixed tool window, modeless, not in the taskbar. It makes the
// main window show the first row of the typed age and closes itself.

#include <QWidget>
#include <memory>

namespace Ui { class Form2; }

namespace orbelant {

class AgeSearch;
class Form1;
class MessageBoxService;

// What the dialog needs of the application shell.
class SearchDialogShell {
public:
    virtual ~SearchDialogShell() = default;
    // The one main window, created and loaded when there is none; not shown.
    virtual Form1 &form1() = 0;
    virtual void showForm1() = 0;
    // Unloads every open window; the main window stores pending edits as it closes.
    virtual bool endProgram() = 0;
};

class Form2 final : public QWidget {
    Q_OBJECT
public:
    Form2(MessageBoxService &messages, SearchDialogShell &shell, QWidget *parent = nullptr);
    ~Form2() override;

    // The load step, run once by the shell before the dialog is first shown.
    void load();

    // The criterion of the most recent search; empty before the first.
    QString criterion() const { return m_criterion; }

signals:
    // The dialog has accepted its closing and is about to be destroyed.
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Command1_Click();
    void Command2_Click();

    // Runs the search on the main window's record source; true when a row was shown.
    bool showRowOfAge(const AgeSearch &search);
    // Brings the dialog back to the front with its text selected.
    void offerAnotherTry();

    std::unique_ptr<Ui::Form2> ui;
    MessageBoxService &m_messages;
    SearchDialogShell &m_shell;
    QString m_criterion;
};

} // namespace orbelant
