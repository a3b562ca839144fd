#pragma once
// The chart window: the workbook's sheet as the International Chronostratigraphic Chart draws
// it, in step with the main window's record source. It only reads the sheet; a click makes a
// unit's first row current in the main window, which stores its pending edits first.

#include "services.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

namespace Ui { class frmChart; }

namespace orbelant {

class ChartView;
class DataControl;

class frmChart final : public QMainWindow {
    Q_OBJECT
public:
    explicit frmChart(const PlatformServices &platform, QWidget *parent = nullptr);
    ~frmChart() override;

    void load();
    // Draws the sheet of `source` and follows its current row and its stores. When the source
    // goes (the main window has closed), the chart stays as it was last drawn.
    void follow(DataControl *source);
    ChartView &picChart();
    // Writes the whole chart to `path`, as PDF, SVG or PNG by its extension; a failure is told.
    void saveTo(const QString &path);

signals:
    // The window has accepted its closing and is about to be destroyed.
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void redraw();

    // Event procedures.
    void saveAs_Click();
    void print_Click();
    void exit_Click();
    void picChart_Click(qsizetype row);

    std::unique_ptr<Ui::frmChart> ui;
    PlatformServices m_platform;
    QPointer<DataControl> m_source;
};

} // namespace orbelant
