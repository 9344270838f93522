// The main window's commands for other tools' files: filter text in and out,
// a measurement on the chart, the chart as a picture or a table.

#include "app/Form.h"
#include "app/MeasureDialogs.h"
#include "editor/ReasonTexts.h"
#include "base/UserInterface.h"
#include "editor/Peqa.h"
#include "interop/FilterDialects.h"
#include "interop/FilterImport.h"
#include "interop/FilterText.h"
#include "interop/Measurement.h"
#include "presets/PresetIo.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <fstream>
#include <string>

namespace ktv {

namespace {

// A name typed without an extension gets the chosen format's, as Save adds
// .dap; a name with one is taken as it is.
QString WithSuffix(const QString& path, const char* suffix)
{
    return QFileInfo(path).suffix().isEmpty() ? path + '.' + QLatin1String(suffix) : path;
}

// A dialog's filter with the file patterns of the registered kinds in place of %1.
QString KindsFilter(const QString& filter, const std::string& patterns)
{
    return filter.arg(QString::fromStdString(patterns));
}

// Through the presets' safe replace: a failed export never damages the old file.
bool WriteText(const QString& path, const QByteArray& text)
{
    return ReplaceFile(QFile::encodeName(path).toStdString(), std::string_view(text.constData(), std::size_t(text.size()))) ==
           FileWriteError::None;
}

} // namespace

void TFormMain::BuildInteropMenus(QMenu* file)
{
    file->addSeparator();
    auto add = [&](QMenu* menu, const QString& text, const char* name, void (TFormMain::*slot)()) {
        QAction* a = menu->addAction(text);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    add(file, tr("Import filters…"), "ImportFilters1", &TFormMain::ImportFiltersClick)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    add(file, tr("Export filters…"), "ExportFilters1", &TFormMain::ExportFiltersClick);
    add(file, tr("Load measurement…"), "LoadMeasurement1", &TFormMain::LoadMeasurementClick);
    add(file, tr("Export chart…"), "ExportChart1", &TFormMain::ExportChartClick);


    ChooseFile = [this](const QString& dialog, const QString& caption, const QString& filters, QString* selected,
                        bool save) {
        const QString folder = DialogFolder(dialog);
        return save ? QFileDialog::getSaveFileName(this, caption, folder, filters, selected)
                    : QFileDialog::getOpenFileName(this, caption, folder, filters, selected);
    };

    // The import report stays open beside the window; each import replaces its text.
    auto* dialog = new QDialog(this);
    dialog->setObjectName("ImportReportDialog");
    dialog->setWindowTitle(tr("Import report"));
    dialog->resize(820, 320);
    auto* layout = new QVBoxLayout(dialog);
    importReport_ = new QPlainTextEdit(dialog);
    importReport_->setObjectName("ImportReport");
    importReport_->setReadOnly(true);
    importReport_->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(importReport_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::hide);
    layout->addWidget(buttons);
    importDialog_ = dialog;
}

void TFormMain::BuildInteropViewItems(QMenu* view)
{
    view->addSeparator();
    QAction* clear = view->addAction(tr("Clear measurement"));
    clear->setObjectName("ClearMeasurement1");
    connect(clear, &QAction::triggered, this, &TFormMain::ClearMeasurementClick);
}

QString TFormMain::ChooseRemembered(const QString& dialog, const QString& caption, const QString& filters,
                                   QString* selected, bool save)
{
    const QString path = ChooseFile ? ChooseFile(dialog, caption, filters, selected, save) : QString();
    if (!path.isEmpty())
        RememberDialogFolder(dialog, path);
    return path;
}

void TFormMain::ImportFiltersClick()
{
    QString selected;
    const QString path =
        ChooseRemembered("Import", tr("Import filters"), KindsFilter(tr("Filter files (%1);;All files (*)"), FilterReadPatterns()), &selected, false);
    if (!path.isEmpty())
        (void)ImportFilters(path);
}

bool TFormMain::ImportFilters(const QString& path)
{
    FilterFile file;
    ImportPlan plan;
    std::string why;
    if (!ReadFilterFile(path.toStdString(), file, &why) ||
        !PlanFilterImport(file, EqChannel(editor_->Channel % EqChannelCount), plan, &why)) {
        Ui().ShowMessage(tr("Import refused: %1").arg(ReasonText(why)).toStdString());
        return false;
    }
    // One step for undo, whatever the number of requests.
    RecordStep(tr("Import %1").arg(QFileInfo(path).fileName()), false, [&] { editor_->ApplyImport(plan); });
    QString report = tr("%1 into %2:").arg(QFileInfo(path).fileName(), EqChannelName(plan.Channel)) + '\n';
    for (const std::string& line : plan.Report)
        report += ReasonText(line) + '\n';
    importReport_->setPlainText(report);
    importDialog_->show();
    return true;
}

void TFormMain::ExportFiltersClick()
{
    QString selected;
    const QString path = ChooseRemembered("Export", tr("Export filters"), KindsFilter(tr("Filter files (%1)"), FilterWritePatterns()), &selected, true);
    if (!path.isEmpty())
        (void)ExportFilters(path);
}

bool TFormMain::ExportFilters(const QString& chosen)
{
    const QString path = WithSuffix(chosen, "txt");
    const std::string text = ExportFilterText(EqChannel(editor_->Channel % EqChannelCount), DspParams);
    if (!WriteText(path, QByteArray::fromStdString(text))) {
        Ui().ShowMessage(tr("Cannot write %1.").arg(path).toStdString());
        return false;
    }
    return true;
}

void TFormMain::LoadMeasurementClick()
{
    QString selected;
    const QString path = ChooseRemembered("Measurement", tr("Load measurement"),
                                          KindsFilter(tr("Measurements (%1);;All files (*)"), MeasurementPatterns()), &selected, false);
    if (!path.isEmpty())
        (void)LoadMeasurement(path);
}

bool TFormMain::LoadMeasurement(const QString& path)
{
    Measurement m;
    std::string why;
    if (!ReadMeasurementFile(path.toStdString(), m, &why)) {
        Ui().ShowMessage(tr("Cannot load the measurement: %1").arg(ReasonText(why)).toStdString());
        return false;
    }
    editor_->SetMeasurement(m);
    return true;
}

void TFormMain::ClearMeasurementClick() { editor_->ClearMeasurement(); }

// The dialogs stay open beside the window; what they measure is the shown
// channel's measurement, as a loaded one is.
void TFormMain::MeasureSweepClick()
{
    auto* d = findChild<SweepDialog*>("SweepDialog");
    if (!d) {
        d = new SweepDialog(this, [this](const Measurement& m) { editor_->SetMeasurement(m); });
        d->setAttribute(Qt::WA_DeleteOnClose);
    }
    d->show();
    d->raise();
}

void TFormMain::LiveAnalyserClick()
{
    auto* d = findChild<AnalyserDialog*>("AnalyserDialog");
    if (!d) {
        d = new AnalyserDialog(this, [this](const Measurement& m) { editor_->SetMeasurement(m); });
        d->setAttribute(Qt::WA_DeleteOnClose);
    }
    d->show();
    d->raise();
}

void TFormMain::ExportChartClick()
{
    const QString png = tr("PNG image (*.png)");
    const QString png2x = tr("PNG image, double size (*.png)");
    const QString pdf = tr("PDF document (*.pdf)");
    const QString csv = tr("CSV table (*.csv)");
    QString selected = png;
    const QString path =
        ChooseRemembered("Chart", tr("Export chart"), QStringList{png, png2x, pdf, csv}.join(";;"), &selected, true);
    if (path.isEmpty())
        return;
    ChartFormat format = ChartFormat::Png;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (selected == png2x)
        format = ChartFormat::Png2x;
    else if (selected == pdf || suffix == "pdf")
        format = ChartFormat::Pdf;
    else if (selected == csv || suffix == "csv")
        format = ChartFormat::Csv;
    (void)ExportChart(path, format);
}

bool TFormMain::ExportChart(const QString& chosen, ChartFormat format)
{
    const QString path = WithSuffix(chosen, format == ChartFormat::Pdf ? "pdf" : format == ChartFormat::Csv ? "csv" : "png");
    bool ok = false;
    switch (format) {
    case ChartFormat::Png:
    case ChartFormat::Png2x:
        ok = editor_->SaveChartPicture(path, false, format == ChartFormat::Png2x ? 2.0 : 1.0);
        break;
    case ChartFormat::Pdf:
        ok = editor_->SaveChartPicture(path, true, 1.0);
        break;
    case ChartFormat::Csv:
        ok = WriteText(path, editor_->ChartCsv().toUtf8());
        break;
    }
    if (!ok)
        Ui().ShowMessage(tr("Cannot write %1.").arg(path).toStdString());
    return ok;
}

} // namespace ktv
