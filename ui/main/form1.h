#pragma once
// The main window: one row of the time scale in labelled fields, the navigation bar,
// six picture buttons and the menu.

#include <QMainWindow>
#include <memory>

#include "rowexport.h"
#include "services.h"

namespace Ui { class Form1; }

namespace orbelant {

class DataControl;
class SheetAccess;

class Form1 final : public QMainWindow {
    Q_OBJECT
public:
    Form1(const PlatformServices &platform, WindowRequests &windows, SheetAccess &sheets,
          QWidget *parent = nullptr);
    ~Form1() override;

    // Runs Form_Load, then lets the record source open the workbook and show its first row.
    void load();

    DataControl &Data1();

signals:
    // The window has accepted its closing and is about to be destroyed.
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void bindFields();
    void setPictures();
    void connectCommands();
    // The seven field texts as the user sees them, typing not yet stored included.
    ShownRow shownRow() const;
    void reportFailure(const ServiceResult &result);

    // Event procedures; the menu item and the button of one command each have their own.
    void find_Click();
    void Command1_Click();
    void print_Click();
    void Command2_Click();
    void save_Click();
    void Command3_Click();
    void refresh_Click();
    void Command4_Click();
    void exit_Click();
    void Command6_Click();
    void avtor_Click();
    void Command5_Click();
    void chart_Click();

    std::unique_ptr<Ui::Form1> ui;
    PlatformServices m_platform;
    WindowRequests &m_windows;
    // The texts of the most recent save, kept until the next one; nothing reads them.
    ShownRow m_saved;
};

} // namespace orbelant
