#pragma once
// The image as `dump` prints it: JSON with every field by its name and the
// bands one a line, so that scripts parse it and people can read it.

#include "params/Gloable.h"

#include <string>

namespace ktv::cli {

std::string PresetJson(const DspParamsImage& image);

} // namespace ktv::cli
