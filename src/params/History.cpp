#include "params/History.h"

#include "params/ImageDiff.h"

#include <utility>

namespace ktv {

void ImageHistory::Start(const DspParamsImage& image)
{
    images_.assign(1, image);
    steps_.clear();
    at_ = 0;
}

bool ImageHistory::Record(std::string name, const DspParamsImage& after, bool wholeImage)
{
    if (SameSettings(Current(), after))
        return false;
    images_.resize(at_ + 1);
    steps_.resize(at_);
    images_.push_back(after);
    steps_.push_back({std::move(name), wholeImage});
    ++at_;
    if (steps_.size() > depth_) {
        images_.pop_front();
        steps_.pop_front();
        --at_;
    }
    return true;
}

const HistoryStep* ImageHistory::Undo()
{
    if (!CanUndo())
        return nullptr;
    return &steps_[--at_];
}

const HistoryStep* ImageHistory::Redo()
{
    if (!CanRedo())
        return nullptr;
    return &steps_[at_++];
}

} // namespace ktv
