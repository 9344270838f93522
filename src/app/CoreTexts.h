#pragma once
// The texts the core hands the window (messages and status texts) in the
// user's language. The core speaks English only; the window translates
// what it shows.

#include <QString>

#include <string_view>

namespace ktv {

// The translation of a core text; a trailing number (an error code, a
// checksum) stays as it is behind the translated words.
QString CoreText(std::string_view text);

} // namespace ktv
