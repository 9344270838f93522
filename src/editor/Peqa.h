#pragma once
// The channel editor TFormPEQA: the response chart, the band rows and the
// settings pages of one channel, and what the user's edits there do to the
// image and send to the box. One editor serves every channel; the main window
// moves it into the selected tab.

#include "editor/BandRows.h"
#include "dsp/StepTables.h"
#include "editor/ResponseChart.h"
#include "params/Gloable.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QCustomPlot;
class QSplitter;

namespace ktv {

class SettingsPages;
struct ImportPlan;
struct Measurement;

class TFormPEQA : public QWidget {
    Q_OBJECT
public:
    explicit TFormPEQA(QWidget* parent = nullptr);
    ~TFormPEQA() override;

    // Channel state.
    std::uint8_t Channel = 0;
    std::uint8_t FirstBand = 0;
    std::uint8_t BandCount = 7;
    // Indexed by row 1..7; entry 0 unused.
    std::array<int, ShownRows + 1> FcStepPos{};
    std::array<int, ShownRows + 1> QStepPos{};

    // Set by the main window: runs a change as one named undo step.
    std::function<void(const QString& name, const std::function<void()>& change)> StepRecorder;

    // The channel's bands, rows and settings page; the caller refreshes.
    void ShowChannel(EqChannel channel);
    void LoadSettings();
    void RefreshBands();
    SettingsPages* PageControlSet() const { return pages_; }

    // Row reactions (r = 1..7).
    void ApplyType(int r);
    void ApplyBypass(int r);
    void StepFc(int r, ArrowAction action);
    void StepGain(int r, ArrowAction action);
    void StepQ(int r, ArrowAction action);
    void ApplyFc(int r);
    void ApplyGain(int r);
    void ApplyQ(int r);
    void ApplyValue(int r, BandField field);
    // A key typed into a value edit: true lets it in; Enter applies the value.
    [[nodiscard]] bool FilterKey(int r, BandField field, char16_t key);
    void BitBtnResetClick();
    void FEnALLClick();
    // Marks the rows whose band did not reach the box.
    void ShowUnsentBands();

    // Chart.
    ResponseChart* Chart() const { return chart_; }
    QCustomPlot* ChartFR() const;
    QCPGraph* Series(int position) const { return chart_->Series(position); }
    int GridX0() const { return chart_->GridX0(); }
    int ColumnAt(int pixelX) const { return chart_->ColumnAt(pixelX); }
    int GridCount() const { return chart_->GridCount(); }
    const FrequencyGrid& Grid() const { return chart_->Grid(); }
    const std::vector<double>& SumCurve() const { return chart_->SumCurve(); }
    const std::vector<double>& BandCurve(int r) const { return chart_->BandCurve(r); }
    bool Dragging() const { return chart_->Dragging(); }
    int DragRow() const { return chart_->DragRow(); }
    QPoint PointPixel(int r) const { return chart_->PointPixel(r); }

    // Imported bands of the shown channel: into the image, onto the rows and
    // chart, and to the box as one run of PeqBands requests. The one place an
    // import changes anything.
    void ApplyImport(const ImportPlan& plan);

    // A measured response for the shown channel, kept per channel for the
    // session and shown shifted so its mean over 200 Hz..2 kHz sits at 0 dB.
    void SetMeasurement(const Measurement& measurement);
    void ClearMeasurement();
    [[nodiscard]] bool HasMeasurement() const;
    // The shown channel's measurement as it was loaded (not shifted): what the
    // fit takes; false when none.
    [[nodiscard]] bool ShownMeasurement(std::vector<double>& hz, std::vector<double>& db) const;
    // The live analyser's trace: shown on the chart, normalised as a
    // measurement is, but never taken for the channel's measurement.
    void ShowAnalyserTrace(const Measurement& frame);
    void ClearAnalyserTrace();
    [[nodiscard]] bool HasAnalyserTrace() const { return !chart_->AnalyserCurve().empty(); }
    const std::vector<double>& MeasurementCurve() const { return chart_->MeasurementCurve(); }
    const std::vector<double>& PredictionCurve() const { return chart_->PredictionCurve(); }
    [[nodiscard]] bool SaveChartPicture(const QString& path, bool pdf, double scale)
    {
        return chart_->SavePicture(path, pdf, scale, EqChannelName(EqChannel(Channel % EqChannelCount)));
    }
    [[nodiscard]] QString ChartCsv() const { return chart_->Csv(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ConfigureBands(std::uint8_t first, std::uint8_t count);
    void FillRowsAtCreation();
    PeqBand& RowBand(int r) { return DspParams.Band[std::size_t(FirstBand + r - 1)]; }
    void SendRow(int r);
    // The edit's text as a float32; false after telling the user.
    bool ReadNumber(BandField field, int r, float& value);
    int& StepPos(StepTable table, int r) { return (table == StepTable::Fc ? FcStepPos : QStepPos)[std::size_t(r)]; }
    // The band of row r to `position` of the table, refreshed and sent.
    void ApplyStep(StepTable table, int r, int position);
    void ApplyDrag(const PointDrag& drag);
    void ApplyDragEnd(int row);
    const std::shared_ptr<const MeasuredResponse>& ShownResponse() const
    {
        return measurements_[std::size_t(Channel % EqChannelCount)];
    }

    BandRows* rows_ = nullptr;
    SettingsPages* pages_ = nullptr;
    QSplitter* splitter_ = nullptr;
    ResponseChart* chart_ = nullptr;
    bool firstPaintSeen_ = false;
    std::array<std::shared_ptr<const MeasuredResponse>, EqChannelCount> measurements_{};
};

} // namespace ktv
