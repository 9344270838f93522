#pragma once
// EQ > Fit to measurement: the shown channel's bands fitted to a measured
// response. "Fit" only previews (bands, predicted curve, errors); "Apply"
// puts the bands into the channel and sends them as one run of PeqBands.

#include "fit/Fit.h"
#include "interop/Measurement.h"

#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QCustomPlot;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace ktv {

class FileDialogs;
class TFormPEQA;

class TFitPanel : public QWidget {
    Q_OBJECT
public:
    // `files` asks for the measurement and target files.
    TFitPanel(TFormPEQA* editor, FileDialogs& files, QWidget* parent = nullptr);

    // The room measured without the channel's EQ; an empty one disables Fit.
    void SetMeasurement(std::vector<double> hz, std::vector<double> db);
    // Re-reads the shown channel: its band boxes, bypassed bands greyed out.
    void ShowChannel();

    void FitClick();
    void ApplyClick();
    void MeasurementFileClick();
    void TargetFileClick();

    const std::optional<FitResult>& Result() const { return result_; }
    // Runs Apply's change (image, rows, sends) as one named step, so the
    // window can make it one undo step; without it the change just runs.
    std::function<void(const QString& name, const std::function<void()>& change)> RunStep;

protected:
    void keyPressEvent(QKeyEvent* event) override;

signals:
    // After Apply changed the image and sent the bands.
    void applied();

private:
    void ShowResult();
    void Invalidate();
    // The chosen measurement file, its name shown in `name`; nothing when
    // cancelled or after saying why it cannot be used.
    std::optional<Measurement> ReadFile(const QString& purpose, const QString& caption, QLabel* name);

    TFormPEQA* editor_;
    FileDialogs& files_;
    std::vector<double> hz_, db_;
    FitTarget curve_; // the loaded target curve
    std::optional<FitResult> result_;
    int fittedFirst_ = -1;
    int rangeChannel_ = 0; // the channel whose default range the boxes started from
    std::vector<PeqBand> fittedFrom_; // the channel's bands the fit started from

    QComboBox* target_ = nullptr;
    QDoubleSpinBox* tilt_ = nullptr;
    QPushButton* measurementFile_ = nullptr;
    QLabel* measurementName_ = nullptr;
    QPushButton* targetFile_ = nullptr;
    QLabel* targetName_ = nullptr;
    QDoubleSpinBox* low_ = nullptr;
    QDoubleSpinBox* high_ = nullptr;
    QDoubleSpinBox* boost_ = nullptr;
    QDoubleSpinBox* cut_ = nullptr;
    QDoubleSpinBox* levelDrop_ = nullptr; // its lowest value: unlimited
    std::array<QCheckBox*, 7> use_{};
    QPushButton* fit_ = nullptr;
    QPushButton* apply_ = nullptr;
    QTableWidget* bands_ = nullptr;
    QLabel* errors_ = nullptr;
    QCustomPlot* chart_ = nullptr;
};

} // namespace ktv
