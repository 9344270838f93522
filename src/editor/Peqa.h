#pragma once
// The channel editor TFormPEQA: the frequency-response chart with its
// draggable band points, up to seven band rows and the settings pages. One
// editor serves every channel; the main window moves it into the selected tab.

#include "dsp/Curves.h"
#include "editor/EditorControls.h"
#include "params/Gloable.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QCPGraph;
class QCPItemText;
class QCPLayer;
class QCustomPlot;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QMouseEvent;
class QPushButton;
class QScrollArea;
class QSplitter;

namespace ktv {

class ChartPlot;
class SettingsPages;
struct ImportPlan;
struct Measurement;

inline constexpr int ShownRows = 7;  // rows 1..7 are the ones ever addressed
inline constexpr int FormRows = 14;  // rows 8..14 exist but stay hidden
inline constexpr int ChartSeriesCount = 18;
inline constexpr int SeriesSum = 14;         // PEQAL
inline constexpr int SeriesPoints = 15;      // PEQAP
inline constexpr int SeriesMeasurement = 16; // the shown channel's measurement, normalised
inline constexpr int SeriesPrediction = 17;  // measurement + the channel's EQ
inline constexpr float BandGainMin = -24.0f;
inline constexpr float BandGainMax = 12.0f;

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

    void ConfigureBands(std::uint8_t first, std::uint8_t count);
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
    [[nodiscard]] bool FilterFcKey(int r, char16_t key);
    [[nodiscard]] bool FilterGainKey(int r, char16_t key);
    [[nodiscard]] bool FilterQKey(int r, char16_t key);
    void BitBtnResetClick();
    void FEnALLClick();

    // Chart.
    void ChartFRAfterDraw();
    void ChartFRMouseDown(QMouseEvent* event);
    void ChartFRMouseMove(QMouseEvent* event);
    void ChartFRMouseUp(QMouseEvent* event);
    QCustomPlot* ChartFR() const;
    QCPGraph* Series(int position) const { return series_[std::size_t(position)]; }
    int GridX0() const { return gridX0_; }
    // The grid column under a pixel column of the chart, held to the grid.
    int ColumnAt(int pixelX) const;
    int GridCount() const { return grid_.Count(); }
    const FrequencyGrid& Grid() const { return grid_; }
    const std::vector<double>& SumCurve() const { return sumCurve_; }
    const std::vector<double>& BandCurve(int r) const { return bandCurves_[std::size_t(r - 1)]; }
    bool Dragging() const { return dragging_; }
    int DragRow() const { return dragRow_; }
    // The band point of row r in chart widget pixels.
    QPoint PointPixel(int r) const;

    // Imported bands of the shown channel: into the image, onto the rows and
    // chart, and to the box as one run of PeqBands requests. The one place an
    // import changes anything.
    void ApplyImport(const ImportPlan& plan);

    // A measured response for the shown channel, kept per channel for the
    // session and shown shifted so its mean over 200 Hz..2 kHz sits at 0 dB.
    void SetMeasurement(const Measurement& measurement);
    void ClearMeasurement();
    [[nodiscard]] bool HasMeasurement() const;
    // The shown channel's measurement as stored (normalised); false when none.
    [[nodiscard]] bool ShownMeasurement(std::vector<double>& hz, std::vector<double>& db) const;
    // Per grid column, dB x 10 like SumCurve; NaN where the measurement has no data.
    const std::vector<double>& MeasurementCurve() const { return measurementCurve_; }
    const std::vector<double>& PredictionCurve() const { return predictionCurve_; }
    // The chart as a picture (PNG at `scale` times the widget's size, or PDF).
    [[nodiscard]] bool SaveChartPicture(const QString& path, bool pdf, double scale);
    // One row per grid column: frequency, each band, the sum, and the
    // measurement and prediction when shown.
    [[nodiscard]] QString ChartCsv() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct BandRow {
        QGroupBox* box = nullptr;
        TypeSelector* type = nullptr;
        NumberEdit* fc = nullptr;
        NumberEdit* gain = nullptr;
        NumberEdit* q = nullptr;
        ArrowPair* fcArrows = nullptr;
        ArrowPair* gainArrows = nullptr;
        ArrowPair* qArrows = nullptr;
        QCheckBox* en = nullptr;
    };

    void BuildChart();
    QWidget* BuildBandArea();
    QGroupBox* BuildRow(int r, QWidget* parent);
    void BuildHiddenRows();
    void WireRow(int r);
    void FillRowsAtCreation();
    PeqBand& RowBand(int r) { return DspParams.Band[std::size_t(FirstBand + r - 1)]; }
    void SendRow(int r);
    void WriteRow(int r, const PeqBand& band);
    // The edit's text as a float32; false after telling the user.
    bool ReadNumber(NumberEdit* edit, float& value);
    void AdjustFrequencyRange();
    void BuildGrid();
    void InitChartData();
    void SetBandPoints(bool relabel);
    void HandOverCurves();
    int HitRow(const QPoint& pos) const;
    void SetSmoothCurve(bool smooth);
    void BuildMeasurementSeries();
    // Keeps the measurement series in step with the channel, the grid and the
    // sum; resamples only when the channel or the measurement changed.
    void UpdateMeasurementSeries();

    std::array<BandRow, FormRows + 1> rows_{};
    QCheckBox* fenAll_ = nullptr;
    QPushButton* reset_ = nullptr;
    QLabel* labelBypass_ = nullptr;
    SettingsPages* pages_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QHBoxLayout* rowStrip_ = nullptr;

    ChartPlot* chart_ = nullptr;
    QCPLayer* curveLayer_ = nullptr;
    std::array<QCPGraph*, ChartSeriesCount> series_{};
    std::array<QCPItemText*, ShownRows> pointLabels_{};

    FrequencyGrid grid_;
    int gridX0_ = 0;
    double gridLog0_ = 0;
    double gridLogStep_ = 1;
    bool chartInitialised_ = false;
    bool firstPaintSeen_ = false;
    std::array<std::vector<double>, ShownRows> bandCurves_{};
    std::vector<double> sumCurve_;
    std::array<double, 8> pointX_{};
    std::array<double, 8> pointY_{};

    struct StoredMeasurement {
        std::vector<double> LogHz; // natural log of the frequency, rising
        std::vector<double> Db;    // normalised
    };
    std::array<std::shared_ptr<const StoredMeasurement>, EqChannelCount> measurements_{};
    std::shared_ptr<const StoredMeasurement> sampled_; // what measurementCurve_ holds
    int sampledColumns_ = 0;
    std::vector<double> measurementCurve_;
    std::vector<double> predictionCurve_;

    bool dragging_ = false;
    int dragRow_ = 0;
    int lastX_ = 0;
    int lastY_ = 0;
};

// Band values as the edits show them: rounded half up to one decimal and to
// at most `precision` significant digits, written with one decimal.
QString FormatBandValue(double value, int precision);

} // namespace ktv
