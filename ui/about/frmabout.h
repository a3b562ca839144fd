#pragma once
// The About box: a fixed dialog, modeless.

#include <QWidget>
#include <memory>

namespace Ui { class frmAbout; }

namespace orbelant {

class frmAbout final : public QWidget {
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);
    ~frmAbout() override;

    // Runs Form_Load, once, before the box is first shown.
    void load();

signals:
    // The box has accepted its closing and is about to be destroyed.
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();

    std::unique_ptr<Ui::frmAbout> ui;
};

} // namespace orbelant
