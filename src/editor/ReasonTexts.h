#pragma once
// The reasons and report lines the core's readers, the import and the fit
// give (in English, the core knows no Qt), in the window's language. Each
// text the core builds is listed once as a template with its numbers, paths
// and quoted file text as %1, %2...; those stay as they are.

#include <QString>

#include <string_view>

namespace ktv {

// The translation of a reason or report line; a text no template matches is
// shown as it is.
QString ReasonText(std::string_view text);

} // namespace ktv
