#pragma once
// The age search dialog: a fixed tool window, modeless, not in the taskbar.

#include <QWidget>
#include <memory>

namespace Ui { class Form2; }

namespace orbelant {

class Form2 final : public QWidget {
    Q_OBJECT
public:
    explicit Form2(QWidget *parent = nullptr);
    ~Form2() override;

    // The load step, run once by the shell before the dialog is first shown.
    void load();

signals:
    // The dialog has accepted its closing and is about to be destroyed.
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    std::unique_ptr<Ui::Form2> ui;
};

} // namespace orbelant
