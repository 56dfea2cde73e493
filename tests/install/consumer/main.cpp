// An outside program built against an installed copy of the library: one
// header of each kind a host includes, one call that needs the archives and
// their dependencies at link time, and where it finds the ring tones.
//
//   consumer                  links and runs
//   consumer --tones <dir>    the tones are read from <dir>/PellixSDK.bundle/audio
//   consumer --no-tones       no tones are found, and a tone played twice logs one line
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "MQTTClient/MQTTSession.h"
#include "PellixAudioPlayer/PellixAudioPlayer.h"
#include "PellixClient/PellixClient.h"
#include "PellixDataManager/PellixDataManager.h"
#include "platform/JSON.h"
#include "platform/Log.h"

namespace {

int fail(const std::string& why) {
    std::fprintf(stderr, "consumer broken: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    using pellix::PellixAudioPlayer;
    auto value = pellix::platform::JSON::parse(R"({"installed":true})");
    if (!value || !value->isDictionary() || pellix::PellixClient::isPellixSDKLogin()) return fail("library calls");

    const std::string mode = argc > 1 ? argv[1] : "";
    const auto folder = PellixAudioPlayer::toneFolder();
    if (mode == "--tones" && argc > 2) {
        const auto want = (std::filesystem::canonical(argv[2]) / "PellixSDK.bundle/audio").string();
        if (!folder) return fail("no tone folder, expected " + want);
        if (std::filesystem::canonical(*folder).string() != want) return fail("tones in " + *folder + ", expected " + want);
        if (!std::filesystem::is_regular_file(*folder + "/incoming.wav")) return fail("no incoming.wav in " + *folder);
    } else if (mode == "--no-tones") {
        if (folder) return fail("tones found in " + *folder + " where none should be");
        std::vector<std::string> lines;
        pellix::platform::Log::setSink([&](std::string_view line) { lines.emplace_back(line); });
        PellixAudioPlayer::sharedInstance().playIncomingAudio(false);
        PellixAudioPlayer::sharedInstance().playBusyAudio(false);
        pellix::platform::Log::setSink(nullptr);
        if (lines.size() != 1 || lines[0].find("no ring tone incoming.wav") == std::string::npos)
            return fail(std::to_string(lines.size()) + " log lines for two missing tones, expected one naming the first");
    } else if (!mode.empty()) {
        return fail("unknown mode " + mode);
    }
    std::puts("consumer ok");
    return 0;
}
