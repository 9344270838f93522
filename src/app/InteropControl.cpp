#include "app/InteropControl.h"

#include "app/HistoryControl.h"
#include "app/MeasureDialogs.h"
#include "base/UserInterface.h"
#include "editor/FileDialogs.h"
#include "editor/FitPanel.h"
#include "editor/Peqa.h"
#include "editor/ReasonTexts.h"
#include "interop/FilterDialects.h"
#include "interop/FilterImport.h"
#include "interop/FilterText.h"
#include "interop/Measurement.h"
#include "params/Gloable.h"
#include "presets/PresetIo.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTabWidget>
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

InteropControl::InteropControl(QMainWindow* window, QTabWidget* pages, TFormPEQA* editor, HistoryControl& history,
                               FileDialogs& files)
    : QObject(window), window_(window), pages_(pages), editor_(editor), history_(history), files_(files)
{
}

void InteropControl::BuildFileItems(QMenu* file)
{
    file->addSeparator();
    auto add = [&](QMenu* menu, const QString& text, const char* name, void (InteropControl::*slot)()) {
        QAction* a = menu->addAction(text);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    add(file, tr("Import filters…"), "ImportFilters1", &InteropControl::ImportFiltersClick)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    add(file, tr("Export filters…"), "ExportFilters1", &InteropControl::ExportFiltersClick);
    add(file, tr("Load measurement…"), "LoadMeasurement1", &InteropControl::LoadMeasurementClick);
    add(file, tr("Export chart…"), "ExportChart1", &InteropControl::ExportChartClick);

    // The import report stays open beside the window; each import replaces its text.
    auto* dialog = new QDialog(window_);
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

void InteropControl::BuildMenus(QMenuBar* bar)
{
    QMenu* eq = bar->addMenu(tr("EQ"));
    eq->setObjectName("Eq1");
    QAction* fit = eq->addAction(tr("Fit to measurement…"));
    fit->setObjectName("FitToMeasurement1");
    connect(fit, &QAction::triggered, this, &InteropControl::FitToMeasurementClick);

    QMenu* measure = bar->addMenu(tr("Measure"));
    measure->setObjectName("Measure1");
    QAction* sweep = measure->addAction(tr("Sweep…"));
    sweep->setObjectName("MeasureSweep1");
    connect(sweep, &QAction::triggered, this, &InteropControl::MeasureSweepClick);
    QAction* analyser = measure->addAction(tr("Live analyser"));
    analyser->setObjectName("LiveAnalyser1");
    connect(analyser, &QAction::triggered, this, &InteropControl::LiveAnalyserClick);
}

void InteropControl::BuildViewItems(QMenu* view)
{
    view->addSeparator();
    QAction* clear = view->addAction(tr("Clear measurement"));
    clear->setObjectName("ClearMeasurement1");
    connect(clear, &QAction::triggered, this, &InteropControl::ClearMeasurementClick);
}

void InteropControl::ImportFiltersClick()
{
    QString selected;
    const QString path =
        files_.Open("Import", tr("Import filters"), KindsFilter(tr("Filter files (%1);;All files (*)"), FilterReadPatterns()),
                    &selected);
    if (!path.isEmpty())
        (void)ImportFilters(path);
}

bool InteropControl::ImportFilters(const QString& path)
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
    history_.RecordStep(tr("Import %1").arg(QFileInfo(path).fileName()), false, [&] { editor_->ApplyImport(plan); });
    QString report = tr("%1 into %2:").arg(QFileInfo(path).fileName(), EqChannelName(plan.Channel)) + '\n';
    for (const std::string& line : plan.Report)
        report += ReasonText(line) + '\n';
    importReport_->setPlainText(report);
    importDialog_->show();
    return true;
}

// One entry of the dialog per dialect the registry can write; the entry
// chosen is the dialect written.
void InteropControl::ExportFiltersClick()
{
    QStringList entries;
    std::vector<const FilterDialect*> dialects;
    for (const FilterDialect& d : FilterDialects()) {
        if (!d.Export)
            continue;
        entries << tr("%1 filters (%2)").arg(QString::fromUtf8(d.Name), QString::fromUtf8(d.Patterns));
        dialects.push_back(&d);
    }
    QString selected = entries.value(int(std::find(dialects.begin(), dialects.end(), &DefaultExportDialect()) -
                                         dialects.begin()));
    const QString path = files_.Save("Export", tr("Export filters"), entries.join(";;"), &selected);
    if (path.isEmpty())
        return;
    const qsizetype chosen = entries.indexOf(selected);
    (void)ExportFilters(path, chosen < 0 ? nullptr : dialects[std::size_t(chosen)]);
}

bool InteropControl::ExportFilters(const QString& chosen, const FilterDialect* dialect)
{
    const QString path = WithSuffix(chosen, "txt");
    const std::string text = ExportFilterText(EqChannel(editor_->Channel % EqChannelCount), DspParams, dialect);
    if (!WriteText(path, QByteArray::fromStdString(text))) {
        Ui().ShowMessage(tr("Cannot write %1.").arg(path).toStdString());
        return false;
    }
    return true;
}

void InteropControl::LoadMeasurementClick()
{
    QString selected;
    const QString path = files_.Open("Measurement", tr("Load measurement"),
                                     KindsFilter(tr("Measurements (%1);;All files (*)"), MeasurementPatterns()), &selected);
    if (!path.isEmpty())
        (void)LoadMeasurement(path);
}

bool InteropControl::LoadMeasurement(const QString& path)
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

void InteropControl::ClearMeasurementClick() { editor_->ClearMeasurement(); }

void InteropControl::FitToMeasurementClick()
{
    if (!fitPanel_) {
        fitPanel_ = new TFitPanel(editor_, files_, window_);
        fitPanel_->RunStep = [this](const QString& name, const std::function<void()>& change) {
            history_.RecordStep(name, false, change);
        };
        // After PageControl1Change (connected first) has moved the editor.
        connect(pages_, &QTabWidget::currentChanged, fitPanel_, &TFitPanel::ShowChannel);
    }
    fitPanel_->ShowChannel();
    fitPanel_->show();
    fitPanel_->raise();
}

// The dialogs stay open beside the window; what they measure is the shown
// channel's measurement, as a loaded one is.
void InteropControl::MeasureSweepClick()
{
    auto* d = window_->findChild<SweepDialog*>("SweepDialog");
    if (!d) {
        d = new SweepDialog(window_, files_, [this](const Measurement& m) { editor_->SetMeasurement(m); });
        d->setAttribute(Qt::WA_DeleteOnClose);
        // After PageControl1Change (connected first) has moved the editor.
        const auto name = [this, d] { d->ShowChannel(EqChannelName(EqChannel(editor_->Channel % EqChannelCount))); };
        connect(pages_, &QTabWidget::currentChanged, d, name);
        name();
    }
    d->show();
    d->raise();
}

void InteropControl::LiveAnalyserClick()
{
    auto* d = window_->findChild<AnalyserDialog*>("AnalyserDialog");
    if (!d) {
        // Its frames are a trace of their own: the channel's measurement (a
        // sweep, a loaded file), which Fit works on, stays as it is.
        d = new AnalyserDialog(window_, [this](const Measurement& m) { editor_->ShowAnalyserTrace(m); });
        d->setAttribute(Qt::WA_DeleteOnClose);
        connect(d, &QObject::destroyed, editor_, [editor = editor_] { editor->ClearAnalyserTrace(); });
    }
    d->show();
    d->raise();
}

void InteropControl::ExportChartClick()
{
    const QString png = tr("PNG image (*.png)");
    const QString png2x = tr("PNG image, double size (*.png)");
    const QString pdf = tr("PDF document (*.pdf)");
    const QString csv = tr("CSV table (*.csv)");
    QString selected = png;
    const QString path =
        files_.Save("Chart", tr("Export chart"), QStringList{png, png2x, pdf, csv}.join(";;"), &selected);
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

bool InteropControl::ExportChart(const QString& chosen, ChartFormat format)
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
