// The fixed table of media types by file extension that uploads without a
// content type fall back on (HOSUtil::detemineMimeTypeForFilePath).
//
// Extensions are lower case without the dot and looked up exactly (no case
// folding). "mp4" is listed twice, "application/mp4" first and "video/mp4"
// later; the later pair wins, since the uploads that reach this table are
// overwhelmingly camera video. The map is built once, on first use, under a
// once-guard, and only read afterwards: safe from any thread.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace pellix {

class HOSContentTypeMap {
public:
    HOSContentTypeMap() = delete;

    // "application/octet-stream": the answer for unknown or missing extensions.
    static constexpr std::string_view kDefaultType = "application/octet-stream";

    // The type for an extension, or nullptr when the table has none.
    static const std::string* typeForExtension(std::string_view extension);
    // The pair list as written (684 pairs), for inspection.
    static std::span<const std::pair<std::string_view, std::string_view>> pairs();
};

}  // namespace pellix
