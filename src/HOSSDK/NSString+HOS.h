// Text helpers of the storage client: trimming, emptiness, joining URL paths
// and the documents directory. Texts are UTF-8. Safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellix {

// The text without leading and trailing white space and line breaks (every
// Unicode White_Space character: blanks, tabs, CR, LF, NEL, no-break and
// typographic spaces, line and paragraph separators, ideographic space).
std::string hos_trim(std::string_view text);
// True unless the trimmed text is empty; a missing text answers false.
bool hos_isNotEmpty(const std::optional<std::string>& text);
bool hos_isNotEmpty(std::string_view text);
// Joins with exactly the slash that is missing: "a/" + "b" and "a" + "b" both
// give "a/b". The component is not inspected.
std::string hos_stringByAppendingPathComponentForURL(std::string_view receiver, std::string_view component);
// The application's documents directory (platform::Paths), as the home is
// now.
std::string hos_documentDirectory();

}  // namespace pellix
