#include "dsp/StepTables.h"

#include "base/UserInterface.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ktv {

namespace {

// Growth ratios of the two tables, as float32 like the running values.
constexpr float FcRatio = 1.019f;
constexpr float QRatio = 1.05f;
constexpr std::size_t DownSweepLimit = 500;

// Rounds half up to 1/scale: trunc((x * scale * 10 + 5) / 10) / scale.
float RoundStep(float x, double scale)
{
    return float(std::trunc((double(x) * (scale * 10.0) + 5.0) / 10.0) / scale);
}

int Search(const std::array<float, StepTableCapacity>& t, int n, float x)
{
    if (n < 2)
        return 0; // tables not built
    for (int i = 0; i < n; ++i)
        if (t[std::size_t(i)] <= x && x < t[std::size_t(i) + 1])
            return i;
    return x > t[std::size_t(n) - 2] ? n - 2 : 0;
}

} // namespace

void BuildStepTables()
{
    FcSteps.fill(0.0f);
    QSteps.fill(0.0f);
    FcStepCount = 0;
    QStepCount = 0;

    // Below 1000 Hz: grown downward from 1000, each step from the rounded value.
    std::vector<float> below;
    float x = 1000.0f;
    for (;;) {
        x = float(double(x) / double(FcRatio));
        const float v = x < 100.0f ? RoundStep(x, 10.0) : RoundStep(x, 1.0);
        below.push_back(v);
        x = v;
        if (below.size() == DownSweepLimit) {
            Ui().ShowMessage("Error!");
            break;
        }
        if (double(x) <= 19.75)
            break;
    }
    std::size_t n = 0;
    for (auto it = below.rbegin(); it != below.rend(); ++it)
        FcSteps[n++] = *it;
    FcSteps[n++] = 1000.0f;

    // Above 1000 Hz: grown upward in kHz.
    x = 1.0f;
    for (;;) {
        const float grown = float(double(x) * double(FcRatio));
        const float v = double(grown) >= 10.0 ? RoundStep(grown, 10.0) : RoundStep(grown, 100.0);
        x = v;
        FcSteps[n++] = float(double(v) * 1000.0);
        // One slot stays free for the closing entry.
        if (n == StepTableCapacity - 1) {
            Ui().ShowMessage("Error!");
            break;
        }
        if (double(x) >= 20.2)
            break;
    }
    FcSteps[n] = 21000.0f;
    FcStepCount = int(n);

    std::size_t q = 0;
    x = 0.4f;
    QSteps[q++] = x;
    // The last slot stays zero: the search reads one entry past the count.
    while (q < StepTableCapacity - 1) {
        const float grown = float(double(x) * double(QRatio));
        float v;
        if (double(grown) < 1.3)
            v = RoundStep(grown, 100.0);
        else if (grown < 14.0f)
            v = RoundStep(grown, 10.0);
        else if (grown <= 128.0f)
            v = RoundStep(grown, 1.0);
        else
            break;
        QSteps[q++] = v;
        x = v;
    }
    QStepCount = int(q);
}

int FcStepIndex(float x) { return Search(FcSteps, FcStepCount, x); }

int QStepIndex(float x) { return Search(QSteps, QStepCount, x); }

namespace {

struct TableView {
    const std::array<float, StepTableCapacity>& values;
    int count;
    int (*index)(float);
};

TableView View(StepTable table)
{
    if (table == StepTable::Fc)
        return {FcSteps, FcStepCount, FcStepIndex};
    return {QSteps, QStepCount, QStepIndex};
}

} // namespace

int StepAlong(StepTable table, int remembered, float value, int delta)
{
    const TableView t = View(table);
    int p = remembered;
    if (p < 0 || p >= StepTableCapacity || t.values[std::size_t(p)] != value)
        p = t.index(value);
    return std::clamp(p + delta, 0, std::max(t.count - 1, 0));
}

int StepNearest(StepTable table, float x)
{
    const TableView t = View(table);
    const int last = t.count - 1;
    if (x > t.values[std::size_t(std::max(last, 0))])
        return last;
    if (x < t.values[0])
        return 0;
    return t.index(x);
}

float StepValue(StepTable table, int position) { return View(table).values[std::size_t(position)]; }

} // namespace ktv
