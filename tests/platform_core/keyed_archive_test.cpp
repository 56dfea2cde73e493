#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <sys/stat.h>

#include "platform/KeyedArchive.h"
#include "platform/PropertyList.h"
#include "support/TestSupport.h"

using namespace pellix::platform;
using pellix::test::TempDir;
using pellix::test::readFile;
using pellix::test::writeFile;

namespace {

Dictionary record() {
    return Dictionary{{"token", "abc.def"},
                      {"expires", 1700000000.5},
                      {"environment", 2},
                      {"sip_no", Value()},  // null survives the archive
                      {"topics", Array{Value("app/room_id/1"), Value("app/room_id/2")}},
                      {"blob", Bytes{1, 2, 3}},
                      {"big", Value(std::numeric_limits<std::uint64_t>::max())}};
}

unsigned modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 0777;
}

std::size_t entriesIn(const std::string& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

}  // namespace

TEST(KeyedArchive, RoundTripWithPrivateModeAndNoLeftovers) {
    TempDir dir;
    const std::string path = dir.file("token.archive");
    // An older file with looser permissions is replaced, not reused.
    writeFile(path, "old");
    ::chmod(path.c_str(), 0644);
    ErrorPtr error;
    ASSERT_TRUE(KeyedArchive::write(path, record(), &error)) << (error ? error->description() : "");
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(entriesIn(dir.path()), 1u);  // no temporary file left behind
    auto back = KeyedArchive::read(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, record());
    EXPECT_EQ(back->keys(), record().keys());
    EXPECT_TRUE(back->find("sip_no")->isNull());

    // A second write replaces the whole archive.
    ASSERT_TRUE(KeyedArchive::write(path, Dictionary{{"only", 1}}));
    EXPECT_EQ(KeyedArchive::read(path).value(), (Dictionary{{"only", 1}}));
    EXPECT_TRUE(KeyedArchive::remove(path));
    EXPECT_FALSE(KeyedArchive::read(path));
    EXPECT_TRUE(KeyedArchive::remove(path));  // already gone counts as removed
}

TEST(KeyedArchive, DamagedOrMissingFilesReadAsNoArchive) {
    TempDir dir;
    const std::string good = dir.file("good");
    ASSERT_TRUE(KeyedArchive::write(good, record()));
    const std::string bytes = readFile(good);

    struct Case {
        const char* name;
        std::string content;
    } cases[] = {
        {"empty", ""},
        {"text", "not an archive at all"},
        {"magic only", "bplist00"},
        {"truncated by one byte", bytes.substr(0, bytes.size() - 1)},
        {"truncated to half", bytes.substr(0, bytes.size() / 2)},
        {"trailer wiped", bytes.substr(0, bytes.size() - 32) + std::string(32, '\0')},
        {"XML property list instead", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("case");
        writeFile(path, c.content);
        EXPECT_FALSE(KeyedArchive::read(path));
    }
    EXPECT_FALSE(KeyedArchive::read(dir.file("missing")));
    EXPECT_FALSE(KeyedArchive::read(dir.path()));  // a folder, not a file

    // Every single-byte corruption of a real archive is survived.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string bad = bytes;
        bad[i] = static_cast<char>(bad[i] ^ 0xFF);
        writeFile(dir.file("flip"), bad);
        (void)KeyedArchive::read(dir.file("flip"));
    }
}

TEST(KeyedArchive, RootMustBeADictionaryAndFailuresAreReported) {
    TempDir dir;
    // A valid property list whose root is not a dictionary is not an archive.
    auto list = PropertyList::write(Value(Array{Value(1)}), PropertyList::Format::Binary).value();
    writeFile(dir.file("array"), std::string(list.begin(), list.end()));
    EXPECT_FALSE(KeyedArchive::read(dir.file("array")));

    ErrorPtr error;
    EXPECT_FALSE(KeyedArchive::write(dir.file("no/such/folder/file"), record(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "NSCocoaErrorDomain");

    error.reset();
    EXPECT_FALSE(KeyedArchive::write(dir.file("nan"), Dictionary{{"x", std::nan("")}}, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 3852);
    EXPECT_FALSE(std::filesystem::exists(dir.file("nan")));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}
