// The editor's side of other tools' files: imported bands and a measurement.

#include "editor/Peqa.h"
#include "interop/FilterImport.h"
#include "interop/Measurement.h"
#include "params/Commands.h"

#include <cmath>

namespace ktv {

namespace {

constexpr double NormaliseLowHz = 200.0;
constexpr double NormaliseHighHz = 2000.0;

} // namespace

void TFormPEQA::ApplyImport(const ImportPlan& plan)
{
    ApplyFilterImport(plan);
    // The bypass boxes follow the new flags without their own reactions:
    // the whole channel goes to the box as one run below.
    for (int r = 1; r <= BandCount && r <= ShownRows; ++r)
        rows_->ShowBypassed(r, (RowBand(r).Flags & FlagBandOn) == 0, true);
    RefreshBands();
    SendBandRun(FirstBand, BandCount);
}

// ---- measurement ----

namespace {

// The response on a log scale, shifted so that its mean over 200 Hz..2 kHz
// sits at 0 dB.
std::shared_ptr<MeasuredResponse> Normalised(const Measurement& m)
{
    auto stored = std::make_shared<MeasuredResponse>();
    stored->LogHz.reserve(m.Hz.size());
    for (double hz : m.Hz)
        stored->LogHz.push_back(std::log(hz));
    stored->Db = m.Db;
    stored->LoadedHz = m.Hz;
    stored->LoadedDb = m.Db;
    // Mean over 200 Hz..2 kHz on a 1/48-octave scale, whatever the file's
    // spacing; the whole file when it does not reach that range.
    double sum = 0;
    int count = 0;
    for (double hz = NormaliseLowHz; hz <= NormaliseHighHz * 1.0001; hz *= std::exp2(1.0 / 48.0)) {
        const double v = stored->At(std::log(hz));
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
    return stored;
}

} // namespace

void TFormPEQA::SetMeasurement(const Measurement& m)
{
    measurements_[std::size_t(Channel % EqChannelCount)] = Normalised(m);
    chart_->ShowMeasurement(ShownResponse());
}

void TFormPEQA::ShowAnalyserTrace(const Measurement& frame) { chart_->ShowAnalyser(Normalised(frame)); }

void TFormPEQA::ClearAnalyserTrace() { chart_->ShowAnalyser(nullptr); }

void TFormPEQA::ClearMeasurement()
{
    measurements_[std::size_t(Channel % EqChannelCount)].reset();
    chart_->ShowMeasurement(ShownResponse());
}

bool TFormPEQA::HasMeasurement() const { return ShownResponse() != nullptr; }

bool TFormPEQA::ShownMeasurement(std::vector<double>& hz, std::vector<double>& db) const
{
    const std::shared_ptr<const MeasuredResponse>& shown = ShownResponse();
    if (!shown)
        return false;
    hz = shown->LoadedHz;
    db = shown->LoadedDb;
    return true;
}

} // namespace ktv
