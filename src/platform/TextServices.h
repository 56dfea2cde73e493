// TextServices: the platform's text services that need ICU: string
// transforms (transliteration) and composed-character-sequence boundaries.
//
// Thread-safety: stateless; any function may be called from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellix::platform::text {

// Applies an ICU transform ("Any-Latin; Latin-ASCII; [:^ASCII:] Remove") to
// UTF-8 text; nullopt when the transform ID is unknown or the text is not
// valid UTF-8.
std::optional<std::string> applyTransform(std::string_view text, std::string_view transformID);

// UTF-16 code units of UTF-8 text; invalid bytes become U+FFFD.
std::u16string toUTF16(std::string_view text);

// Offsets (in UTF-16 code units) at which a composed character sequence
// starts: a base character with its combining marks, a surrogate pair, an
// emoji with its modifiers is one sequence. Always holds 0 (for non-empty
// text) and the text's length as the last entry; ascending.
std::vector<std::size_t> composedCharacterBoundaries(std::u16string_view text);

}  // namespace pellix::platform::text
