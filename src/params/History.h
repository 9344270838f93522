#pragma once
// The history behind undo and redo: whole images, one per step. An image is
// about a kilobyte, so snapshots are simpler and safer than recording each
// field's old value, and they let any change (a drag, a preset load, an
// import) become a step without knowing what it touched.

#include "params/Gloable.h"

#include <cstddef>
#include <deque>
#include <string>

namespace ktv {

struct HistoryStep {
    std::string Name;        // "Gain of MIC band 3", "Open live.dap"
    bool WholeImage = false; // undone and redone with a write-all
};

class ImageHistory {
public:
    static constexpr std::size_t DefaultDepth = 500;

    ImageHistory() = default;
    explicit ImageHistory(std::size_t depth) : depth_(depth < 1 ? 1 : depth) {}

    // Forgets every step; `image` is where the history now stands.
    void Start(const DspParamsImage& image);
    // The image the history stands at: the result of the last step recorded
    // or redone, or the image before the last step undone.
    const DspParamsImage& Current() const { return images_.at(at_); }

    // Records the step from Current() to `after` and drops the steps that
    // could have been redone. Nothing is recorded (false) when `after` holds
    // the same settings. Beyond the depth the oldest step is forgotten.
    bool Record(std::string name, const DspParamsImage& after, bool wholeImage = false);

    bool CanUndo() const { return at_ > 0; }
    bool CanRedo() const { return at_ + 1 < images_.size(); }
    std::size_t UndoCount() const { return at_; }
    std::size_t RedoCount() const { return images_.size() - 1 - at_; }
    // The step an undo or a redo would take; nullptr when there is none.
    const HistoryStep* NextUndo() const { return CanUndo() ? &steps_[at_ - 1] : nullptr; }
    const HistoryStep* NextRedo() const { return CanRedo() ? &steps_[at_] : nullptr; }

    // Moves one step back or forward; Current() is then the image to show
    // and send. Returns the step taken, or nullptr when there is none.
    const HistoryStep* Undo();
    const HistoryStep* Redo();

private:
    std::size_t depth_ = DefaultDepth;
    // steps_[i] leads from images_[i] to images_[i + 1].
    std::deque<DspParamsImage> images_{DspParamsImage{}};
    std::deque<HistoryStep> steps_;
    std::size_t at_ = 0;
};

} // namespace ktv
