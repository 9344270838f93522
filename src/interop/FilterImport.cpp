#include "interop/FilterImport.h"

#include "dsp/Filter.h"
#include "dsp/Math.h"
#include "dsp/StepTables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ktv {
namespace {

// Responses are compared down to this level only: below it (a notch's null,
// a low-pass far into its stop band) the exact depth says nothing a listener hears.
constexpr double ComparisonFloorDb = -40.0;
// The effect a filter is ranked by when the channel has too few bands.
constexpr double EffectCapDb = 40.0;

std::string Format(const char* format, double v)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, v);
    return buffer;
}

std::string Hz(double v) { return Format(v < 100 ? "%.1f" : "%.0f", v); }

const char* BoxTypeName(FilterType type)
{
    switch (type) {
    case FilterType::BandPass:
        return "Band Pass";
    case FilterType::Notch:
        return "Notch";
    default:
        return FilterTypeNames[std::size_t(type)].data();
    }
}

// Nearest entry on a log scale among the first `count` entries of a table.
float Nearest(const std::array<float, StepTableCapacity>& table, int count, double x)
{
    float best = table[0];
    double bestDistance = 1e300;
    for (int i = 0; i < count; ++i) {
        const double d = std::abs(Log(double(table[std::size_t(i)]) / x));
        if (d < bestDistance) {
            bestDistance = d;
            best = table[std::size_t(i)];
        }
    }
    return best;
}

int NearestIndex(const std::array<float, StepTableCapacity>& table, int count, double x)
{
    const float v = Nearest(table, count, x);
    return int(std::find(table.begin(), table.begin() + count, v) - table.begin());
}

// Any change beyond float noise: 0.72 held as 0.7 is one, 63.2 stored as
// 63.2f is none.
bool Differs(double a, double b) { return std::abs(a - b) > 1e-5 * std::max(1.0, std::abs(b)); }

double Floored(double db) { return std::max(db, ComparisonFloorDb); }

// The band's response as if the channel's equaliser were on: the comparison
// is about the shape, not about the switch.
std::vector<double> BandResponse(PeqBand band)
{
    band.Flags |= FlagChannelEqOn;
    DesignBand(band);
    std::vector<double> r;
    r.reserve(ComparisonFrequencies().size());
    for (double f : ComparisonFrequencies())
        r.push_back(MagnitudeDb(band.Coef, float(f)));
    return r;
}

std::vector<double> FileResponse(const FileFilterDesign& d)
{
    std::vector<double> r;
    r.reserve(ComparisonFrequencies().size());
    for (double f : ComparisonFrequencies())
        r.push_back(FileFilterDb(d, f));
    return r;
}

double LargestDifference(const std::vector<double>& a, const std::vector<double>& b)
{
    double worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::abs(Floored(a[i]) - Floored(b[i])));
    return worst;
}

double RmsDifference(const std::vector<double>& a, const std::vector<double>& b)
{
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = Floored(a[i]) - Floored(b[i]);
        sum += d * d;
    }
    return std::sqrt(sum / double(a.size()));
}

struct Candidate {
    const FileFilter* Filter = nullptr;
    FileFilterDesign Design;
    PeqBand Band;
    std::vector<std::string> Notes;
    std::vector<double> Response; // the file filter's, exact
    double Effect = 0;
    bool Kept = false;
    int Position = 0; // 1-based band position in the channel
};

// The box's band for one file filter, with what had to change and why.
void MapFilter(Candidate& c, std::uint8_t keepFlags)
{
    const FileFilter& f = *c.Filter;
    const FileFilterDesign& d = c.Design;
    FilterType type = FilterType::Bell;
    bool firstOrder = false;
    switch (d.Kind) {
    case FileFilterKind::LowPass1:
        firstOrder = true;
        [[fallthrough]];
    case FileFilterKind::LowPass:
        type = FilterType::LowPass;
        break;
    case FileFilterKind::HighPass1:
        firstOrder = true;
        [[fallthrough]];
    case FileFilterKind::HighPass:
        type = FilterType::HighPass;
        break;
    case FileFilterKind::LowShelf1:
        firstOrder = true;
        [[fallthrough]];
    case FileFilterKind::LowShelf:
        type = FilterType::LowShelf;
        break;
    case FileFilterKind::HighShelf1:
        firstOrder = true;
        [[fallthrough]];
    case FileFilterKind::HighShelf:
        type = FilterType::HighShelf;
        break;
    case FileFilterKind::Notch:
        type = FilterType::Notch;
        break;
    case FileFilterKind::BandPass:
        type = FilterType::BandPass;
        break;
    default:
        break;
    }
    const bool hasGain = type == FilterType::Bell || type == FilterType::LowShelf || type == FilterType::HighShelf;

    PeqBand& band = c.Band;
    band.Flags = std::uint8_t((keepFlags & ~(FlagBandOn | FlagTypeMask)) | (f.On ? FlagBandOn : 0) | std::uint8_t(type));
    if (!f.On)
        c.Notes.push_back("OFF in the file: bypassed");

    double gain = hasGain ? d.Gain : 0.0;
    const double clamped = std::clamp(gain, double(BandGainMin), double(BandGainMax));
    if (clamped != gain)
        c.Notes.push_back("gain clamped from " + Format("%.1f", gain) + " dB");
    band.Gain = float(std::round(clamped * 10.0) / 10.0);
    if (clamped == gain && Differs(band.Gain, gain))
        c.Notes.push_back("gain rounded from " + Format("%.3g", gain) + " dB");

    if (f.CornerFrequency)
        c.Notes.push_back("corner " + Hz(f.Fc) + " Hz is centre " + Hz(d.Fc) + " Hz");
    double q = d.Q;
    if (d.ShelfSlope) {
        // The box's shelf takes Q in the cookbook form; the same biquad with
        // slope S has 1/Q = sqrt((A + 1/A)(1/S - 1) + 2).
        const double A = Pow10(band.Gain / 40.0);
        const double s = (A + 1 / A) * (1 / *d.ShelfSlope - 1) + 2;
        q = s > 0 ? 1.0 / std::sqrt(s) : double(QSteps[std::size_t(QStepCount - 1)]);
        c.Notes.push_back("slope " + (f.SlopeDb ? Format("%.3g dB/oct", *f.SlopeDb) : Format("S %.2f", *d.ShelfSlope)) +
                          " as Q " + Format("%.3f", q));
    } else if (f.Kind == FileFilterKind::Peak && !f.Q && f.BwOct) {
        c.Notes.push_back("bandwidth " + Format("%.3g", *f.BwOct) + " oct as Q " + Format("%.3f", q));
    } else if (f.Kind == FileFilterKind::Peak && !f.Q && f.T60Ms) {
        c.Notes.push_back("T60 " + Format("%.0f", *f.T60Ms) + " ms as Q " + Format("%.3f", q));
    } else if (!f.Q && (type == FilterType::LowPass || type == FilterType::HighPass || type == FilterType::BandPass ||
                        type == FilterType::Notch) && !firstOrder) {
        c.Notes.push_back("Q " + Format("%.3g", q) + " by default");
    }

    if (firstOrder) {
        // One second-order section cannot be first order: take the Fc and Q
        // steps whose response is closest to the file's.
        const int centre = NearestIndex(FcSteps, FcStepCount, d.Fc);
        double best = 1e300;
        for (int i = std::max(0, centre - 8); i <= std::min(FcStepCount - 1, centre + 8); ++i)
            for (int k = 0; k < QStepCount; ++k) {
                PeqBand trial = band;
                trial.Fc = FcSteps[std::size_t(i)];
                trial.Q = QSteps[std::size_t(k)];
                const double e = RmsDifference(c.Response, BandResponse(trial));
                if (e < best) {
                    best = e;
                    band.Fc = trial.Fc;
                    band.Q = trial.Q;
                }
            }
        band = BoxHeld(band);
        c.Notes.push_back("type converted: first order as second order, Fc " + Hz(band.Fc) + " Hz Q " +
                          Format("%.1f", band.Q) + " fitted");
    } else {
        // The nearest steps, as the box will hold them (whole tenths), so the
        // report, the rows and a later export all show the same values.
        band.Fc = Nearest(FcSteps, FcStepCount, d.Fc);
        band.Q = Nearest(QSteps, QStepCount, q);
        band = BoxHeld(band);
        if (d.Fc < FcSteps[0] || d.Fc > FcSteps[std::size_t(FcStepCount - 1)])
            c.Notes.push_back("Fc " + Hz(d.Fc) + " Hz held to " + Hz(band.Fc) + " Hz");
        else if (Differs(band.Fc, d.Fc))
            c.Notes.push_back("Fc snapped from " + Hz(d.Fc) + " Hz");
        if (q < QSteps[0] || q > QSteps[std::size_t(QStepCount - 1)])
            c.Notes.push_back("Q " + Format("%.3g", q) + " held to " + Format("%.3g", band.Q));
        else if (Differs(band.Q, q))
            c.Notes.push_back("Q snapped from " + Format("%.3g", q));
    }
    DesignBand(band);
}

std::string Describe(const PeqBand& band)
{
    const auto type = FilterType(band.Flags & FlagTypeMask);
    std::string s = std::string(BoxTypeName(type)) + " " + Hz(band.Fc) + " Hz Q " + Format("%.1f", band.Q);
    if (type == FilterType::Bell || type == FilterType::LowShelf || type == FilterType::HighShelf)
        s += " " + Format("%+.1f", band.Gain) + " dB";
    return s;
}

} // namespace

const std::vector<double>& ComparisonFrequencies()
{
    static const std::vector<double> frequencies = [] {
        std::vector<double> f;
        for (int i = 0;; ++i) {
            const double hz = 20.0 * Exp2(i / 24.0);
            if (hz > 20000.0 * 1.0001)
                break;
            f.push_back(std::min(hz, 20000.0));
        }
        return f;
    }();
    return frequencies;
}

bool PlanFilterImport(const FilterFile& file, EqChannel channel, ImportPlan& plan, std::string* why)
{
    if (FcStepCount == 0 || QStepCount == 0)
        BuildStepTables();
    const BandGroup group = GroupOf(channel);
    const std::vector<double>& grid = ComparisonFrequencies();

    std::vector<Candidate> candidates;
    std::vector<std::string> unusable;
    for (const FileFilter& f : file.Filters) {
        if (!f.Problem.empty() || f.Kind == FileFilterKind::None || f.Kind == FileFilterKind::AllPass)
            continue;
        Candidate c;
        c.Filter = &f;
        c.Design = DesignOf(f);
        c.Response = FileResponse(c.Design);
        if (f.On)
            for (double db : c.Response)
                c.Effect = std::max(c.Effect, std::min(std::abs(db), EffectCapDb));
        candidates.push_back(std::move(c));
    }
    if (candidates.empty()) {
        if (why) {
            *why = "The file holds no filter line that can be used.";
            for (const FileFilter& f : file.Filters)
                if (!f.Problem.empty())
                    *why += " Line " + std::to_string(f.Line) + ": " + f.Problem + ".";
        }
        return false;
    }

    // Too many filters: keep those that change the response most.
    std::vector<Candidate*> byEffect;
    for (Candidate& c : candidates)
        byEffect.push_back(&c);
    std::stable_sort(byEffect.begin(), byEffect.end(),
                     [](const Candidate* a, const Candidate* b) { return a->Effect > b->Effect; });
    for (std::size_t i = 0; i < byEffect.size() && int(i) < group.BandCount; ++i)
        byEffect[i]->Kept = true;

    ImportPlan result;
    result.Channel = channel;
    result.Bands.resize(std::size_t(group.BandCount));
    int position = 0;
    for (Candidate& c : candidates) {
        if (!c.Kept)
            continue;
        const PeqBand& old = DspParams.Band[std::size_t(group.FirstBand + position)];
        c.Position = ++position;
        MapFilter(c, old.Flags);
        result.Bands[std::size_t(position - 1)] = c.Band;
    }
    result.Kept = position;
    for (int p = position; p < group.BandCount; ++p) {
        const PeqBand& old = DspParams.Band[std::size_t(group.FirstBand + p)];
        PeqBand flat;
        SetDefaultBand(flat, p);
        flat.Flags = std::uint8_t((old.Flags & ~(FlagBandOn | FlagTypeMask)) | FlagBandOn | std::uint8_t(FilterType::Bell));
        DesignBand(flat);
        result.Bands[std::size_t(p)] = flat;
    }

    // The file's response and the channel's, summed in dB.
    std::vector<double> fileSum(grid.size(), 0.0), boxSum(grid.size(), 0.0);
    for (const Candidate& c : candidates)
        if (c.Filter->On)
            for (std::size_t i = 0; i < grid.size(); ++i)
                fileSum[i] += c.Response[i];
    for (const PeqBand& band : result.Bands) {
        if (!(band.Flags & FlagBandOn))
            continue;
        const std::vector<double> r = BandResponse(band);
        for (std::size_t i = 0; i < grid.size(); ++i)
            boxSum[i] += r[i];
    }
    result.LargestDifferenceDb = LargestDifference(fileSum, boxSum);

    auto candidateOf = [&](const FileFilter& f) -> const Candidate* {
        for (const Candidate& c : candidates)
            if (c.Filter == &f)
                return &c;
        return nullptr;
    };
    for (const FileFilter& f : file.Filters) {
        std::string line = "Line " + std::to_string(f.Line) + " \"" + f.Text + "\": ";
        const Candidate* c = candidateOf(f);
        if (!f.Problem.empty()) {
            line += "not applied: " + f.Problem;
        } else if (f.Kind == FileFilterKind::None) {
            line += "not applied: type None";
        } else if (f.Kind == FileFilterKind::AllPass) {
            line += "not applied: an all-pass changes only the phase";
        } else if (!c->Kept) {
            line += "left out: the channel has " + std::to_string(group.BandCount) +
                    " bands and the filters kept change the response more";
        } else {
            line += "band " + std::to_string(c->Position) + " " + Describe(c->Band);
            std::vector<std::string> notes = c->Notes;
            // Every change to a value is noted (to the tenth the box keeps).
            // With none the band is the file's: what differs then is only the
            // box's own filter design, which the summary line counts, and a
            // difference beside "as given" would read as a change.
            if (notes.empty())
                notes.push_back("as given");
            else if (f.On)
                notes.push_back("differs by at most " +
                                Format("%.2f", LargestDifference(c->Response, BandResponse(c->Band))) + " dB");
            line += " (";
            for (std::size_t i = 0; i < notes.size(); ++i)
                line += (i ? "; " : "") + notes[i];
            line += ")";
        }
        result.Report.push_back(std::move(line));
    }
    if (file.Preamp)
        result.Report.push_back("Preamp " + Format("%.1f", *file.Preamp) + " dB: not applied (no box setting takes it)");
    if (position + 1 == group.BandCount)
        result.Report.push_back("Band " + std::to_string(group.BandCount) + ": flat (Bell, 0 dB)");
    else if (position < group.BandCount)
        result.Report.push_back("Bands " + std::to_string(position + 1) + ".." + std::to_string(group.BandCount) +
                                ": flat (Bell, 0 dB)");
    std::string summary = "Largest difference from the file's response, 20 Hz - 20 kHz: " +
                          Format("%.2f", result.LargestDifferenceDb) + " dB";
    if (!(DspParams.Band[std::size_t(group.FirstBand)].Flags & FlagChannelEqOn))
        summary += " (the channel's EQ is switched off)";
    result.Report.push_back(summary);
    plan = std::move(result);
    return true;
}

void ApplyFilterImport(const ImportPlan& plan)
{
    const BandGroup group = GroupOf(plan.Channel);
    for (std::size_t i = 0; i < plan.Bands.size() && int(i) < group.BandCount; ++i)
        DspParams.Band[std::size_t(group.FirstBand) + i] = plan.Bands[i];
}

} // namespace ktv
