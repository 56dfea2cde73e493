// The data manager sits below the client facade, the MQTT manager, the image
// tool and the OCR reader: it includes none of them, and reaches them only
// through the hooks the facade hands it when it starts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "HOSManager/Public/PellixUploadAndDownloadImageTool.h"
#include "PellixClient/PellixClient.h"
#include "PellixDataManager/PellixDataManager.h"
#include "PellixDataManager/PellixDataManagerHooks.h"
#include "PellixMQTTManager/PellixMQTTManager.h"
#include "PellixOCRAPI/PellixOCRAPIManager.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "support/TestSupport.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

// The quoted includes of one file.
std::vector<std::string> quotedIncludes(const fs::path& file) {
    static const std::regex include(R"(^\s*#\s*include\s*"([^"]+)\")");
    std::vector<std::string> out;
    std::ifstream in(file);
    std::string line;
    std::smatch m;
    while (std::getline(in, line))
        if (std::regex_search(line, m, include)) out.push_back(m[1]);
    return out;
}

// Every header reached from the data manager's files, each with the file
// that first included it, so a failure names the whole chain.
std::map<std::string, std::string> reachedFromDataManager(const fs::path& src) {
    std::map<std::string, std::string> parent;
    std::vector<std::string> todo;
    for (const auto& entry : fs::recursive_directory_iterator(src / "PellixDataManager")) {
        if (!entry.is_regular_file()) continue;
        const auto ext = entry.path().extension();
        if (ext != ".h" && ext != ".cpp") continue;
        const std::string rel = fs::relative(entry.path(), src).generic_string();
        parent.emplace(rel, "");
        todo.push_back(rel);
    }
    while (!todo.empty()) {
        const std::string file = todo.back();
        todo.pop_back();
        for (const auto& inc : quotedIncludes(src / file)) {
            if (!fs::exists(src / inc)) continue;  // a test header or a system one
            if (parent.emplace(inc, file).second) todo.push_back(inc);
        }
    }
    return parent;
}

std::string chain(const std::map<std::string, std::string>& parent, std::string file) {
    std::string out = file;
    while (!parent.at(file).empty()) {
        file = parent.at(file);
        out = file + " -> " + out;
    }
    return out;
}

TEST(DataManagerLayer, ReachesNoHeaderOfTheLayersAboveIt) {
    const fs::path src = fs::path(test::sourceDir()) / "src";
    ASSERT_TRUE(fs::is_directory(src / "PellixDataManager")) << src;
    const auto reached = reachedFromDataManager(src);
    // A data manager that reached nothing would pass for the wrong reason.
    ASSERT_TRUE(reached.count("PellixDataManager/PellixNetServer/PellixRecordFields.h"));
    // The facade and everything that serves it from above.
    for (const char* upper : {"PellixClient/", "PellixMQTTManager/", "HOSManager/", "PellixOCRAPI/",
                              "PellixSipCallManager/", "PellixVideoView/", "PellixAudioPlayer/"}) {
        for (const auto& [file, from] : reached) {
            EXPECT_NE(file.rfind(upper, 0), 0u) << "the data manager reaches " << chain(reached, file);
        }
    }
}

// Installs hooks for one test and puts the previous ones back.
class HooksScope {
public:
    explicit HooksScope(PellixDataManagerHooks hooks) : saved_(PellixDataManagerHooks::current()) {
        PellixDataManagerHooks::install(std::move(hooks));
    }
    ~HooksScope() { PellixDataManagerHooks::install(std::move(saved_)); }

private:
    PellixDataManagerHooks saved_;
};

// Runs the main queue until every block posted before this call has run.
void drainMainQueue() {
    bool marker = false;
    platform::DispatchQueue::main()->async([&marker] { marker = true; });
    ASSERT_TRUE(platform::RunLoop::main()->runUntil([&marker] { return marker; }, 30));
}

// Without hooks (no facade started) each operation that promises an outcome
// still reports one failure: later, on the main queue, except a download
// without a key, which fails at once as the image tool's does.
TEST(DataManagerLayer, MissingHooksFailOnceWhereTheirCallersPromise) {
    HooksScope scope{PellixDataManagerHooks{}};
    const auto hooks = PellixDataManagerHooks::current();
    hooks.configureImageTool();
    hooks.resubscribeTopics(std::vector<std::string>{"app/room_id/1"});

    struct Case {
        const char* name;
        bool atOnce;
        std::function<void(int& failures, int& successes)> start;
    };
    const std::vector<Case> cases = {
        {"one upload", false,
         [&](int& f, int& s) {
             hooks.uploadImageData(platform::Bytes{1, 2}, 1, [&s](const std::string&) { ++s; }, [&f] { ++f; });
         }},
        {"several uploads", false,
         [&](int& f, int& s) {
             hooks.uploadImageDatas({platform::Bytes{1}}, 1, [&s](const std::vector<std::string>&) { ++s; },
                                    [&f] { ++f; });
         }},
        {"download", false,
         [&](int& f, int& s) {
             hooks.downloadWithImageObjectKey(
                 std::string("contact_management/1/k"), [&s](const platform::Bytes&, const std::string&) { ++s; },
                 [&f](const PellixText& key) { f += key == std::string("contact_management/1/k") ? 1 : 100; });
         }},
        {"download without a key", true,
         [&](int& f, int& s) {
             hooks.downloadWithImageObjectKey(
                 std::nullopt, [&s](const platform::Bytes&, const std::string&) { ++s; },
                 [&f](const PellixText& key) { f += key ? 100 : 1; });
         }},
        {"download of an empty key", true,
         [&](int& f, int& s) {
             hooks.downloadWithImageObjectKey(
                 std::string(), [&s](const platform::Bytes&, const std::string&) { ++s; },
                 [&f](const PellixText& key) { f += key == std::string() ? 1 : 100; });
         }},
        {"card reading", false,
         [&](int& f, int& s) {
             hooks.detectIdentifyCard(platform::Bytes{1}, std::string("k"), std::string("s"),
                                      [&f, &s](const platform::Value& dictionary, const auto& front,
                                               const auto& back) {
                                          if (dictionary.isNull() && !front && !back) ++f; else ++s;
                                      });
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int failures = 0;
        int successes = 0;
        c.start(failures, successes);
        EXPECT_EQ(failures, c.atOnce ? 1 : 0);
        drainMainQueue();
        EXPECT_EQ(failures, 1);
        EXPECT_EQ(successes, 0);
    }
}

// The public operations go through the installed hooks, with what the caller
// gave and handing back exactly what the hook reports.
TEST(DataManagerLayer, DownloadGoesThroughTheInstalledHook) {
    PellixText asked;
    PellixDataManagerHooks hooks;
    hooks.downloadWithImageObjectKey = [&asked](const PellixText& key, PellixImageDownloadSuccess success,
                                                PellixImageDownloadFailure) {
        asked = key;
        success(platform::Bytes{7, 8, 9}, *key);
    };
    HooksScope scope{std::move(hooks)};
    platform::Bytes got;
    std::string gotKey;
    int failures = 0;
    // The image tool's own block types are the data manager's.
    PellixUploadAndDownloadImageTool::DownloadSuccess success = [&](const platform::Bytes& d, const std::string& k) {
        got = d;
        gotKey = k;
    };
    PellixUploadAndDownloadImageTool::DownloadFailure failure = [&failures](const PellixText&) { ++failures; };
    PellixDataManager::downloadWithImageObjectKey(std::string("head_portrait/3/x"), success, failure);
    EXPECT_EQ(asked, std::string("head_portrait/3/x"));
    EXPECT_EQ(got, (platform::Bytes{7, 8, 9}));
    EXPECT_EQ(gotKey, "head_portrait/3/x");
    EXPECT_EQ(failures, 0);
}

template <typename Signature, typename Hook>
bool routesTo(const Hook& hook, Signature* function) {
    const auto* target = hook.template target<Signature*>();
    return target && *target == function;
}

// Starting the facade hands the data manager the upper layers' services:
// without this the data manager's images, readings and topics would go
// nowhere (the fallbacks fail or do nothing).
TEST(DataManagerLayer, StartingTheFacadeInstallsTheUpperLayersServices) {
    PellixClient::sharedInstance();
    const auto hooks = PellixDataManagerHooks::current();
    const std::vector<std::pair<const char*, bool>> routed = {
        {"image tool configuration",
         routesTo(hooks.configureImageTool, &PellixUploadAndDownloadImageTool::pellixUploadAndDownloadConfiguration)},
        {"one upload", routesTo(hooks.uploadImageData, &PellixUploadAndDownloadImageTool::uploadImageData)},
        {"several uploads", routesTo(hooks.uploadImageDatas, &PellixUploadAndDownloadImageTool::uploadImageDatas)},
        {"download",
         routesTo(hooks.downloadWithImageObjectKey, &PellixUploadAndDownloadImageTool::downloadWithImageObjectKey)},
        {"topics", routesTo(hooks.resubscribeTopics, &PellixMQTTManager::resubcribleTopics)},
        {"card reading",
         routesTo(hooks.detectIdentifyCard, &PellixOCRAPIManager::detectionIdentifyCardImageWithImageData)},
    };
    for (const auto& [name, ok] : routed) EXPECT_TRUE(ok) << name;
}

}  // namespace
}  // namespace pellix
