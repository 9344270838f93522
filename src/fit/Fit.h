#pragma once
// Automatic room EQ: a measured response and a target in, the channel's bands
// out, placed on the box's own Fc and Q steps and judged by the box's own
// response on the values the box will hold after the tenths encoding. Takes
// plain arrays so that it knows nothing of file formats or windows.

#include "params/Gloable.h"

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace ktv {

enum class FitTargetKind { Flat, Tilt, Curve };

struct FitTarget {
    FitTargetKind Kind = FitTargetKind::Flat;
    double TiltDbPerOctave = 0.0;  // Tilt
    std::vector<double> Hz, Db;    // Curve, ascending in Hz
};

enum class FitMode {
    Stepped,         // on the box's steps, neighbouring steps searched: what the box gets
    Continuous,      // free Fc, Q and gain: the bound the stepped fit is measured against
    RoundAfterwards, // the continuous fit rounded to the nearest steps, as by hand
};

struct FitOptions {
    double LowHz = 40.0;
    double HighHz = 16000.0; // see FitRangeOf for the channel's own
    double MaxBoostDb = 0.0; // cuts only by default: boosting a room's dips wastes headroom
    double MaxCutDb = -12.0;
    double MaxQ = 10.0;      // narrower bands chase single measurement points
    // Bit i set: band i of the channel may be fitted. A band that is off
    // (bypassed) is left alone whatever its bit says.
    std::uint32_t UseBands = 0xFFFFFFFFu;
    FitMode Mode = FitMode::Stepped;
    // The most the fit may lower the channel's level (LevelChangeDb no
    // lower than minus this). A cuts-only fit lowers the level to meet a
    // room's lowest parts (a headphone's roll-offs); the limit trades error
    // for level. Unlimited unless asked.
    double MaxLevelDropDb = std::numeric_limits<double>::infinity();
};

struct FitError {
    double RmsDb = 0.0;     // around the mean level: the room's level is the volume's business
    double LargestDb = 0.0;
};

struct FitResult {
    // The channel's bands, the fitted ones replaced (Coef designed): each
    // value one the box holds after the tenths of its band record, so what is
    // shown is what a preset saves; the fitted ones take the places of the
    // bands they replace in rising frequency.
    std::vector<PeqBand> Bands;
    std::vector<bool> Fitted;   // which of them the fit set
    FitError Before, After;
    // The same fit without the steps, and that rounded to the nearest steps
    // afterwards: the yardsticks of the stepped fit.
    FitError ContinuousAfter, RoundedAfter;
    // How much the fit moves the channel's level, averaged in dB over the
    // range: below zero, the fit lowers the level by that much.
    double LevelChangeDb = 0.0;
    double LowHz = 0.0, HighHz = 0.0; // the range used (the asked one within the measurement)
    // On the evaluation grid (FitPointsPerOctave, log-spaced over the range):
    std::vector<double> Hz;
    std::vector<double> MeasuredDb;  // the measurement, averaged onto the grid
    std::vector<double> PredictedDb; // the measurement with the channel's bands after the fit
    std::vector<double> TargetDb;    // the target at the predicted curve's mean level
};

inline constexpr int FitPointsPerOctave = 48;
inline constexpr double FitMinQ = 0.4;

// hz, db: the room measured without the channel's EQ. bands: the channel's
// bands; the error before is the room with them as they are, the error after
// the room with the fitted ones and those left alone. Needs the step tables
// (builds them when they are empty). False with a reason on bad input.
[[nodiscard]] bool FitChannel(std::span<const double> hz, std::span<const double> db, const FitTarget& target,
                              const FitOptions& options, std::span<const PeqBand> bands, FitResult& result,
                              std::string* why = nullptr);

// How the stepped fit chooses between two settings of a band, the other
// bands in place: the one within the level limit (or nearer to it), then the
// smaller error, and among errors equal to within a billionth (a band that
// hardly touches the error) the one that lowers the level least.
struct FitStepScore {
    double ExcessDb; // how far the level lies below the lowest allowed
    double Error;    // mean square around the mean level
    double LevelDb;  // the mean level
};
[[nodiscard]] bool FitStepIsBetter(const FitStepScore& candidate, const FitStepScore& best);

// The range a channel is fitted over unless told otherwise: the subwoofer
// only below 250 Hz (bands above its crossover would fit what it never
// plays), the others 40 Hz to 16 kHz.
struct FitRange {
    double LowHz, HighHz;
};
FitRange FitRangeOf(EqChannel channel);

} // namespace ktv
