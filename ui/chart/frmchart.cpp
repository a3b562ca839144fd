#include "frmchart.h"
#include "ui_frmchart.h"

#include "chartexport.h"
#include "datacontrol.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>

namespace orbelant {

frmChart::frmChart(const PlatformServices &platform, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::frmChart>())
    , m_platform(platform)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->saveAs, &QAction::triggered, this, &frmChart::saveAs_Click);
    connect(ui->print, &QAction::triggered, this, &frmChart::print_Click);
    connect(ui->exit, &QAction::triggered, this, &frmChart::exit_Click);
    connect(ui->picChart, &ChartView::rowChosen, this, &frmChart::picChart_Click);
}

frmChart::~frmChart() = default;

void frmChart::load()
{
    Form_Load();
}

ChartView &frmChart::picChart()
{
    return *ui->picChart;
}

void frmChart::follow(DataControl *source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (source) {
        connect(source, &DataControl::tableChanged, this, &frmChart::redraw);
        connect(source, &DataControl::currentRecordChanged, this,
                [this](qsizetype record) { ui->picChart->setCurrentRow(record); });
    }
    redraw();
}

void frmChart::closeEvent(QCloseEvent *event)
{
    event->accept();
    emit unloaded();
}

// As wide as the chart, where the screen allows.
void frmChart::Form_Load()
{
    const int chartWidth = ui->picChart->sizeHint().width();
    const int available = screen() ? screen()->availableGeometry().width() * 9 / 10 : chartWidth;
    resize(std::min(chartWidth, available), height());
}

void frmChart::redraw()
{
    if (!m_source)
        return;
    ui->picChart->showChart(ChartLayout(m_source->table()));
    ui->picChart->setCurrentRow(m_source->currentRecord());
}

void frmChart::saveTo(const QString &path)
{
    if (const auto written = exportChart(ui->picChart->chart(), path); !written)
        m_platform.messages.show(written.error(), MessageBoxService::Icon::Critical);
}

// Event procedures.

void frmChart::saveAs_Click()
{
    QString format;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить шкалу"), chartTitle + QStringLiteral(".pdf"),
                                                QStringLiteral("PDF (*.pdf);;SVG (*.svg);;PNG (*.png)"), &format);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + format.section(QLatin1Char(' '), 0, 0).toLower();
    saveTo(path);
}

void frmChart::print_Click()
{
    const ChartLayout &chart = ui->picChart->chart();
    const ChartGeometry geometry(chart, ChartGeometry::chartFont());
    const ServiceResult printed = m_platform.printer.printPages(
        chartTitle, QStringLiteral("Шкала не напечатана."),
        [&](QPainter &painter, QPagedPaintDevice &pages) { drawPages(painter, pages, chart, geometry); });
    if (!printed)
        m_platform.messages.show(printed.error(), MessageBoxService::Icon::Critical);
}

// Closes this window only; the main window stays.
void frmChart::exit_Click()
{
    close();
}

// The unit's first row becomes current in the main window, its pending edits stored first.
void frmChart::picChart_Click(qsizetype row)
{
    if (m_source)
        m_source->moveTo(row);
}

} // namespace orbelant
