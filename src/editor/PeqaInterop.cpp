// The editor's side of other tools' files: imported bands, a measurement and
// its prediction on the chart, and the chart as a picture or as numbers.

#include "editor/Peqa.h"
#include "interop/FilterImport.h"
#include "interop/Measurement.h"
#include "params/Commands.h"

#include "editor/ChartPlot.h"

#include <qcustomplot.h>

#include <QCheckBox>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>
#include <limits>

namespace ktv {

namespace {

constexpr double NormaliseLowHz = 200.0;
constexpr double NormaliseHighHz = 2000.0;
constexpr double NoData = std::numeric_limits<double>::quiet_NaN();

// dB at log-frequency x, linear in log frequency; NaN outside the data.
double Interpolate(const std::vector<double>& logHz, const std::vector<double>& db, double x)
{
    if (logHz.empty() || x < logHz.front() || x > logHz.back())
        return NoData;
    const auto it = std::lower_bound(logHz.begin(), logHz.end(), x);
    const std::size_t i = std::size_t(it - logHz.begin());
    if (i == 0)
        return db.front();
    const double t = (x - logHz[i - 1]) / (logHz[i] - logHz[i - 1]);
    return db[i - 1] + t * (db[i] - db[i - 1]);
}

} // namespace

void TFormPEQA::ApplyImport(const ImportPlan& plan)
{
    ApplyFilterImport(plan);
    // The bypass boxes follow the new flags without their own reactions:
    // the whole channel goes to the box as one run below.
    for (int r = 1; r <= BandCount && r <= ShownRows; ++r) {
        const QSignalBlocker quiet(rows_[std::size_t(r)].en);
        rows_[std::size_t(r)].en->setChecked((RowBand(r).Flags & FlagBandOn) == 0);
    }
    RefreshBands();
    SendBandRun(FirstBand, BandCount);
}

// ---- measurement ----

void TFormPEQA::BuildMeasurementSeries()
{
    QCPGraph* measured = series_[SeriesMeasurement];
    measured->setName(tr("Measurement"));
    measured->setPen(QPen(QColor(255, 170, 0), 1.5));
    measured->setVisible(false);
    measured->setAdaptiveSampling(false);
    // The prediction moves with every drag step, so it is drawn with the sum.
    QCPGraph* predicted = series_[SeriesPrediction];
    predicted->setName(tr("Prediction"));
    predicted->setLayer(curveLayer_);
    predicted->setPen(QPen(QColor(90, 230, 90), 2));
    predicted->setVisible(false);
    predicted->setAdaptiveSampling(false);

    QCPLegend* legend = chart_->legend;
    legend->clearItems();
    measured->addToLegend(legend);
    predicted->addToLegend(legend);
    legend->setBrush(QBrush(QColor(30, 30, 30, 220)));
    legend->setBorderPen(QPen(QColor(110, 110, 110)));
    legend->setTextColor(Qt::white);
    legend->setVisible(false);
    chart_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignBottom | Qt::AlignRight);
}

void TFormPEQA::SetMeasurement(const Measurement& m)
{
    auto stored = std::make_shared<StoredMeasurement>();
    stored->LogHz.reserve(m.Hz.size());
    for (double hz : m.Hz)
        stored->LogHz.push_back(std::log(hz));
    stored->Db = m.Db;
    // Mean over 200 Hz..2 kHz on a 1/48-octave scale, whatever the file's
    // spacing; the whole file when it does not reach that range.
    double sum = 0;
    int count = 0;
    for (double hz = NormaliseLowHz; hz <= NormaliseHighHz * 1.0001; hz *= std::exp2(1.0 / 48.0)) {
        const double v = Interpolate(stored->LogHz, stored->Db, std::log(hz));
        if (!std::isnan(v)) {
            sum += v;
            ++count;
        }
    }
    if (count == 0)
        for (double v : stored->Db) {
            sum += v;
            ++count;
        }
    const double mean = count ? sum / count : 0.0;
    for (double& v : stored->Db)
        v -= mean;
    measurements_[std::size_t(Channel % EqChannelCount)] = std::move(stored);
    HandOverCurves();
}

void TFormPEQA::ClearMeasurement()
{
    measurements_[std::size_t(Channel % EqChannelCount)].reset();
    HandOverCurves();
}

bool TFormPEQA::HasMeasurement() const { return measurements_[std::size_t(Channel % EqChannelCount)] != nullptr; }

bool TFormPEQA::ShownMeasurement(std::vector<double>& hz, std::vector<double>& db) const
{
    const std::shared_ptr<const StoredMeasurement>& shown = measurements_[std::size_t(Channel % EqChannelCount)];
    if (!shown)
        return false;
    hz.clear();
    for (double logHz : shown->LogHz)
        hz.push_back(std::exp(logHz));
    db = shown->Db;
    return true;
}

void TFormPEQA::UpdateMeasurementSeries()
{
    QCPGraph* measured = series_[SeriesMeasurement];
    QCPGraph* predicted = series_[SeriesPrediction];
    const std::shared_ptr<const StoredMeasurement>& shown = measurements_[std::size_t(Channel % EqChannelCount)];
    const int n = chartInitialised_ ? grid_.Count() : 0;
    if (!shown || n == 0) {
        sampled_.reset();
        if (measured->visible()) {
            measured->setVisible(false);
            predicted->setVisible(false);
            chart_->legend->setVisible(false);
            measurementCurve_.clear();
            predictionCurve_.clear();
            chart_->replot(QCustomPlot::rpQueuedReplot);
        }
        return;
    }
    if (shown != sampled_ || n != sampledColumns_) {
        // Only a new measurement, channel or grid gets here, never a drag step.
        measurementCurve_.assign(std::size_t(n), NoData);
        QVector<double> keys(n), values(n);
        for (int i = 0; i < n; ++i) {
            const double f10 = grid_.Freq10()[std::size_t(i)];
            measurementCurve_[std::size_t(i)] = Interpolate(shown->LogHz, shown->Db, std::log(f10 / 10.0)) * 10.0;
            keys[i] = f10;
            values[i] = measurementCurve_[std::size_t(i)];
        }
        measured->setData(keys, values, true);
        predicted->setData(keys, values, true);
        predictionCurve_.assign(std::size_t(n), NoData);
        measured->setVisible(true);
        predicted->setVisible(true);
        chart_->legend->setVisible(true);
        sampled_ = shown;
        sampledColumns_ = n;
        chart_->replot(QCustomPlot::rpQueuedReplot);
    }
    auto data = predicted->data();
    std::size_t i = 0;
    for (auto it = data->begin(); it != data->end(); ++it, ++i) {
        predictionCurve_[i] = measurementCurve_[i] + sumCurve_[i];
        it->value = predictionCurve_[i];
    }
}

// ---- the chart as a picture and as numbers ----

bool TFormPEQA::SaveChartPicture(const QString& path, bool pdf, double scale)
{
    if (pdf)
        return chart_->savePdf(path);
    return chart_->savePng(path, 0, 0, scale);
}

QString TFormPEQA::ChartCsv() const
{
    const bool measured = !measurementCurve_.empty();
    QString csv = QStringLiteral("Frequency (Hz)");
    for (int r = 1; r <= BandCount; ++r)
        csv += QStringLiteral(",Band %1 (dB)").arg(r);
    csv += QStringLiteral(",Sum (dB)");
    if (measured)
        csv += QStringLiteral(",Measurement (dB),Prediction (dB)");
    csv += '\n';
    auto number = [](double tenths) {
        return std::isnan(tenths) ? QString() : QString::number(tenths / 10.0, 'f', 2);
    };
    const int n = chartInitialised_ ? grid_.Count() : 0;
    for (int i = 0; i < n; ++i) {
        const auto c = std::size_t(i);
        csv += QString::number(grid_.Freq10()[c] / 10.0, 'f', 1);
        for (int r = 1; r <= BandCount; ++r)
            csv += ',' + number(bandCurves_[std::size_t(r - 1)][c]);
        csv += ',' + number(sumCurve_[c]);
        if (measured)
            csv += ',' + number(measurementCurve_[c]) + ',' + number(predictionCurve_[c]);
        csv += '\n';
    }
    return csv;
}

} // namespace ktv
