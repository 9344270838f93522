#pragma once
// The frequency-response chart of one channel's bands: axes and grid, the
// summed and per-band curves on a pixel-column grid, the band points with
// their hit test, and the measurement with its prediction. A point dragged
// with the mouse is reported by signals; the chart changes no band itself.

#include "dsp/Curves.h"
#include "editor/ChartPlot.h"
#include "params/Gloable.h"

#include <array>
#include <memory>
#include <span>
#include <vector>

class QLabel;

namespace ktv {

inline constexpr int ChartSeriesCount = 19;
inline constexpr int SeriesSum = 14;         // PEQAL
inline constexpr int SeriesPoints = 15;      // PEQAP
inline constexpr int SeriesMeasurement = 16; // the shown channel's measurement, normalised
inline constexpr int SeriesPrediction = 17;  // measurement + the channel's EQ
inline constexpr int SeriesAnalyser = 18;    // the live analyser's trace, normalised like a measurement

// A measured response as the chart samples it.
struct MeasuredResponse {
    std::vector<double> LogHz; // natural log of the frequency, rising
    std::vector<double> Db;
    // The measurement as it came, unshifted: what the fit takes, so that the
    // window fits exactly what ktvtune-cli fit reads from the same file.
    std::vector<double> LoadedHz, LoadedDb;
    // dB at a log frequency, linear in log frequency; NaN outside the data.
    [[nodiscard]] double At(double logHz) const;
};

// One mouse move of a dragged band point: what the pointer asks of the band.
struct PointDrag {
    int Row = 0;           // 1..7
    bool Moves = false;    // left button: Fc and gain follow the pointer
    int FcStep = -1;       // the Fc step under the pointer; -1 before the grid exists
    double GainTenths = 0; // the gain under the pointer, to the nearest tenth of a dB
    int QSteps = 0;        // right button: one step up (+1) or down (-1) the Q table
};

class ResponseChart : public ChartPlot {
    Q_OBJECT
public:
    explicit ResponseChart(QWidget* parent = nullptr);

    // The bands the points, the hit test and the curves stand for; they stay
    // owned by the image.
    void SetBands(std::span<const PeqBand> bands);
    // New curves for the bands (designed already), with the measurement to
    // show (none: null) and its prediction, redrawn where they moved.
    void ShowCurves(const std::shared_ptr<const MeasuredResponse>& measurement);
    // The same with the curves as they are: a new measurement or none.
    void ShowMeasurement(const std::shared_ptr<const MeasuredResponse>& measurement);
    void ShowBypass(bool bypassed);
    // The live analyser's latest frame (none: null). It is no measurement:
    // nothing predicts from it and it stays whatever channel is shown.
    void ShowAnalyser(const std::shared_ptr<const MeasuredResponse>& trace);

    QCPGraph* Series(int position) const { return series_[std::size_t(position)]; }
    int GridX0() const { return gridX0_; }
    // The grid column under a pixel column of the chart, held to the grid.
    int ColumnAt(int pixelX) const;
    int GridCount() const { return grid_.Count(); }
    const FrequencyGrid& Grid() const { return grid_; }
    const std::vector<double>& SumCurve() const { return sumCurve_; }
    const std::vector<double>& BandCurve(int r) const { return bandCurves_[std::size_t(r - 1)]; }
    // Per grid column, dB x 10 like SumCurve; NaN where the measurement has no data.
    const std::vector<double>& MeasurementCurve() const { return measurementCurve_; }
    const std::vector<double>& PredictionCurve() const { return predictionCurve_; }
    // Per grid column like MeasurementCurve; empty while no trace is shown.
    const std::vector<double>& AnalyserCurve() const { return analyserCurve_; }
    bool Dragging() const { return dragging_; }
    int DragRow() const { return dragRow_; }
    // The point of band r (1-based) in widget pixels.
    QPoint PointPixel(int r) const;

    // The chart as a picture (PNG at `scale` times the widget's size, or PDF
    // on an A4 page across), titled with the channel's name.
    [[nodiscard]] bool SavePicture(const QString& path, bool pdf, double scale, const QString& channel);
    // One row per grid column: frequency, each band, the sum, and the
    // measurement and prediction when shown.
    [[nodiscard]] QString Csv() const;

signals:
    void pointDragged(const ktv::PointDrag& drag);
    // The dragged point was let go; the band holds its final values.
    void dragFinished(int row);

private:
    void BuildAxes();
    void BuildSeries();
    void BuildMeasurementSeries();
    void AdjustFrequencyRange();
    void AfterDraw();
    void BuildGrid();
    void InitData();
    void SetBandPoints(bool relabel);
    // Keeps the measurement series in step with the grid and the sum;
    // resamples only when the measurement or the grid changed.
    void UpdateMeasurementSeries(const std::shared_ptr<const MeasuredResponse>& shown);
    void UpdateLegend();
    int HitRow(const QPoint& pos) const;
    void SetSmoothCurve(bool smooth);
    void Press(QMouseEvent* event);
    void Move(QMouseEvent* event);
    void Release(QMouseEvent* event);

    std::span<const PeqBand> bands_;
    QCPLayer* curveLayer_ = nullptr;
    std::array<QCPGraph*, ChartSeriesCount> series_{};
    std::array<QCPItemText*, MaxShownBands> pointLabels_{};
    QLabel* labelBypass_ = nullptr;

    FrequencyGrid grid_;
    int gridX0_ = 0;
    double gridLog0_ = 0;
    double gridLogStep_ = 1;
    bool initialised_ = false;
    std::array<std::vector<double>, MaxShownBands> bandCurves_{};
    std::vector<double> sumCurve_;

    std::shared_ptr<const MeasuredResponse> sampled_; // what measurementCurve_ holds
    int sampledColumns_ = 0;
    std::vector<double> measurementCurve_;
    std::vector<double> predictionCurve_;
    std::vector<double> analyserCurve_;

    bool dragging_ = false;
    int dragRow_ = 0;
    int lastX_ = 0; // the pointer's column at the last move
};

} // namespace ktv
