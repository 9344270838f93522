#pragma once
// The main window's commands for other tools' files and for measuring: filter
// text in and out, a measurement on the chart, the chart as a picture or a
// table, the fit panel, the sweep and the live analyser.

#include <QCoreApplication>
#include <QObject>

class QMainWindow;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QTabWidget;
class QWidget;

namespace ktv {

class FileDialogs;
struct FilterDialect;
class HistoryControl;
class TFitPanel;
class TFormPEQA;

// Part of the main window: its texts are the window's.
class InteropControl : public QObject {
    Q_DECLARE_TR_FUNCTIONS(ktv::TFormMain)

public:
    InteropControl(QMainWindow* window, QTabWidget* pages, TFormPEQA* editor, HistoryControl& history,
                   FileDialogs& files);

    // Its items of the File and View menus, and the EQ and Measure menus.
    void BuildFileItems(QMenu* file);
    void BuildViewItems(QMenu* view);
    void BuildMenus(QMenuBar* bar);

    // Other tools' files, for the shown channel.
    void ImportFiltersClick();
    void ExportFiltersClick();
    void LoadMeasurementClick();
    void ClearMeasurementClick();
    void ExportChartClick();
    enum class ChartFormat { Png, Png2x, Pdf, Csv };
    // What the menu commands do once a file is chosen; false after telling the user.
    bool ImportFilters(const QString& path);
    // dialect: nullptr for the registry's default.
    bool ExportFilters(const QString& path, const FilterDialect* dialect = nullptr);
    bool LoadMeasurement(const QString& path);
    bool ExportChart(const QString& path, ChartFormat format);
    // The text of the last import's report ("ImportReport").
    QPlainTextEdit* ImportReport() const { return importReport_; }

    // EQ > Fit to measurement: the panel, made on first use.
    void FitToMeasurementClick();
    TFitPanel* FitPanel() const { return fitPanel_; }
    void MeasureSweepClick();
    void LiveAnalyserClick();

private:
    QMainWindow* window_;
    QTabWidget* pages_;
    TFormPEQA* editor_;
    HistoryControl& history_;
    FileDialogs& files_;
    QWidget* importDialog_ = nullptr;
    QPlainTextEdit* importReport_ = nullptr;
    TFitPanel* fitPanel_ = nullptr;
};

} // namespace ktv
