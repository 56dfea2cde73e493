// Content types by file extension.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "HOSSDK/HOSContentTypeMap.h"
#include "HOSSDK/HOSUtil.h"

namespace pellix {
namespace {

using Opt = std::optional<std::string>;

TEST(HOSContentType, ChoosesByPathThenUploadName) {
    struct {
        Opt path, name;
        const char* type;
    } cases[] = {
        {"photo.jpg", {}, "image/jpeg"},
        {"photo.jpeg", {}, "image/jpeg"},
        {"photo.JPG", {}, "application/octet-stream"},  // no case folding
        {"/var/data/clip.mp4", {}, "video/mp4"},
        {"x.tar", {}, "application/x-tar"},
        {"archive.tar.gz", {}, "application/octet-stream"},
        {{}, "a/b.png", "image/png"},
        {"/tmp/upload", "a/b.png", "image/png"},          // no extension in the path
        {"/tmp/dir.d/upload", "b.png", "image/png"},      // a dot in a folder is no extension
        {"/tmp/file.", "b.png", "image/png"},             // empty extension
        {"report.pdf", "report.docx", "application/pdf"},  // the path wins
        {{}, {}, "application/octet-stream"},
        {"README", "LICENSE", "application/octet-stream"},
        {"a.json", {}, "application/json"},
        {"a.yaml", {}, "text/yaml"},
        {"a.ice", {}, "x-conference/x-cooltalk"},
        {"a.aw", {}, "application/applixware"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HOSUtil::detemineMimeTypeForFilePath(c.path, c.name), c.type)
            << c.path.value_or("(nil)") << " / " << c.name.value_or("(nil)");
    for (const char* ext : {"mp3", "mov", "m4a", "htm", "tif", "mpg", "gz", "log", "heic"})
        EXPECT_EQ(HOSUtil::detemineMimeTypeForFilePath(std::string("f.") + ext, {}), "application/octet-stream") << ext;
}

// The table itself: 684 pairs over 683 extensions, grouped by top-level
// type in the known proportions, every type named by one extension only
// (except image/jpeg), lower-case extensions without dots.
TEST(HOSContentType, TableShape) {
    const auto pairs = HOSContentTypeMap::pairs();
    EXPECT_EQ(pairs.size(), 684u);
    std::set<std::string_view> exts;
    std::map<std::string_view, int> byTopLevel, byType;
    for (const auto& [ext, type] : pairs) {
        exts.insert(ext);
        byTopLevel[type.substr(0, type.find('/'))]++;
        byType[type]++;
        for (char c : ext) EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') << ext;
        EXPECT_NE(HOSContentTypeMap::typeForExtension(ext), nullptr);
    }
    EXPECT_EQ(exts.size(), 683u);
    const std::map<std::string_view, int> expected = {{"application", 529}, {"image", 42}, {"text", 36},
                                                      {"video", 34},        {"audio", 26}, {"model", 9},
                                                      {"chemical", 6},      {"message", 1}, {"x-conference", 1}};
    EXPECT_EQ(byTopLevel, expected);
    for (const auto& [type, count] : byType)
        if (type != "image/jpeg") {
            EXPECT_EQ(count, 1) << type;
        }
    EXPECT_EQ(pairs.front().first, "aw");
    EXPECT_EQ(*HOSContentTypeMap::typeForExtension("docx"),
              "application/vnd.openxmlformats-officedocument.wordprocessingml.document");
    EXPECT_EQ(*HOSContentTypeMap::typeForExtension("bin"), "application/octet-stream");
    EXPECT_EQ(HOSContentTypeMap::typeForExtension("Jpg"), nullptr);
}

}  // namespace
}  // namespace pellix
