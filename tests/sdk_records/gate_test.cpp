// The completeness gate of PellixDataManager: every gated operation refuses
// an incomplete record at once, on the calling thread, with 40400 "参数缺失"
// and no result; operations whose defaults complete the record pass it.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PellixDataManager/PellixDataManager.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "platform/RunLoop.h"
#include "support/TestSupport.h"

namespace pellix {
namespace {

using DM = PellixDataManager;

// What one completion call reported.
struct Probe {
    int calls = 0;
    bool resultEmpty = false;
    PellixErrorPtr error;

    template <class T>
    DM::ListCompletion<T> list() {
        return [this](const DM::List<T>& l, const PellixErrorPtr& e) { note(!l.has_value(), e); };
    }
    template <class T>
    DM::RecordCompletion<T> record() {
        return [this](const std::shared_ptr<T>& r, const PellixErrorPtr& e) { note(r == nullptr, e); };
    }
    DM::FlagCompletion flag() {
        return [this](bool ok, const PellixErrorPtr& e) { note(!ok, e); };
    }
    DM::TextListCompletion texts() {
        return [this](const std::optional<std::vector<std::string>>& t, const PellixErrorPtr& e) { note(!t.has_value(), e); };
    }

private:
    void note(bool empty, const PellixErrorPtr& e) {
        ++calls;
        resultEmpty = empty;
        error = e;
    }
};

struct GateRow {
    std::string name;
    std::function<void(Probe&)> call;  // calls the operation with an incomplete record
};

void PrintTo(const GateRow& r, std::ostream* os) { *os << r.name; }

const PellixText nil = std::nullopt;

const std::vector<GateRow>& gateRows() {
    static const std::vector<GateRow> rows = {
        {"getUserTransferNumber", [](Probe& p) { DM::getUserTransferNumberWithRoomId(nil, p.record<PellixCallTransfer>()); }},
        {"setUserTransferNumber", [](Probe& p) { DM::setUserTransferNumberWithRoomId("r", nil, "86", p.flag()); }},
        {"getUserKeyList", [](Probe& p) { DM::getUserKeyListWithRoomId("", p.record<PellixKeyList>()); }},
        {"setUserKeysSort", [](Probe& p) { DM::setUserKeysSortWithRoomId("r", nil, p.flag()); }},
        {"setUserKeypackageAlias", [](Probe& p) { DM::setUserKeypackageAliasWithDoorId("d", "", p.flag()); }},
        {"getNoticeDetail", [](Probe& p) { DM::getNoticeDetailWithNoticeId(nil, p.record<PellixCommunityNotice>()); }},
        {"getUserVistorsHistory", [](Probe& p) { DM::getUserVistorsHistoryWithRoomId(nil, 1, 1, 20, p.list<PellixVistorHistoryInfo>()); }},
        {"getRoomVistorsHistory", [](Probe& p) { DM::getRoomVistorsHistoryWithRoomId("", 1, 1, 20, p.list<PellixVistorHistoryInfo>()); }},
        {"openDoor", [](Probe& p) { DM::openDoorWithRoomId("r", nil, p.flag()); }},
        {"openDoorWithOpenType", [](Probe& p) { DM::openDoorWithRoomId(nil, "d", "1", p.flag()); }},
        {"getDoorPassword", [](Probe& p) { DM::getDoorPasswordWithRoomId(nil, p.record<PellixDoorPassword>()); }},
        {"getDoorPasswordList", [](Probe& p) { DM::getDoorPasswordListWithRoomId("", p.list<PellixOpenDoorPwd>()); }},
        {"getDoorPasswordDetail", [](Probe& p) { DM::getDoorPasswordDetailWithRoomId("r", nil, p.record<PellixOpenDoorPasswordDetail>()); }},
        {"setUserRoomDisturbInfo", [](Probe& p) { DM::setUserRoomDisturbInfoWithRoomId("r", "1", nil, p.record<PellixRoomDisturbSettingResult>()); }},
        {"setAllRoomDisturbInfo", [](Probe& p) { DM::setAllRoomDisturbInfoWithAppStatus(nil, "1", p.record<PellixDisturbSettingResult>()); }},
        {"getUserEntityCards", [](Probe& p) { DM::getUserEntityCardsWithRoomId(nil, p.list<PellixEntityCardInfo>()); }},
        {"addAuthorizeEmptyNationCode", [](Probe& p) { DM::addAuthorizeWithNationCode("", "n", "138", "r", "1", "b", "e", p.flag()); }},
        {"addAuthorizeNoEndTime", [](Probe& p) { DM::addAuthorizeWithNationCode(nil, "n", "138", "r", "1", "b", nil, p.flag()); }},
        {"modifyAuthorize", [](Probe& p) { DM::modifyAuthorizeWithName("n", nil, "r", "1", "b", "e", p.flag()); }},
        {"deleteAuthorize", [](Probe& p) { DM::deleteAuthorizeWithAuthUserId("u", nil, p.flag()); }},
        {"terminalAuthorize", [](Probe& p) { DM::terminalAuthorizeWithRoomId("", p.flag()); }},
        {"getAuthorizeList", [](Probe& p) { DM::getAuthorizeListWithRoomId(nil, nil, nil, p.record<PellixAuthorizeListInfo>()); }},
        {"getAuthorizeListEmptyPage", [](Probe& p) { DM::getAuthorizeListWithRoomId("r", "", nil, p.record<PellixAuthorizeListInfo>()); }},
        {"contactPropertyHistory", [](Probe& p) { DM::contactPropertyHistoryWithDepID(nil, "1", "20", p.list<PellixPropertyPublishInfo>()); }},
        {"getEstateDepartmentSearch", [](Probe& p) { DM::getEstateDepartmentSearchWithKeyword("", 1, 20, p.list<PellixEstateDepartmentSearch>()); }},
        {"getEstateDepartmentList", [](Probe& p) { DM::getEstateDepartmentListWithKeyword("k", nil, 1, 20, p.list<PellixEstateDepartment>()); }},
        {"getEstateBuildingUnit", [](Probe& p) { DM::getEstateBuildingUnitWithKeyword("k", "", 1, 20, p.list<PellixEstateBuildingUnit>()); }},
        {"getEstateRoomNumber", [](Probe& p) { DM::getEstateRoomNumberWithKeyword("k", nil, 1, 20, p.list<PellixEstateRoomNumber>()); }},
        {"getMobileOfProprietor", [](Probe& p) { DM::getMobileOfProprietorWithRoomId(nil, p.texts()); }},
    };
    return rows;
}

// Whatever slips past the gate goes to a dead loopback port, never outside.
class GateTest : public ::testing::TestWithParam<GateRow> {
protected:
    void SetUp() override {
        PellixGlobleConfig::setEnvironment(0, {"https://127.0.0.1:" + std::to_string(test::freePort()), "127.0.0.1", 1});
        PellixGlobleConfig::sharedInstance()->setPellixSDKMode(0);
    }
};

TEST_P(GateTest, RefusesAtOnceWith40400AndNoResult) {
    Probe probe;
    GetParam().call(probe);
    ASSERT_EQ(probe.calls, 1) << "answered before the call returned";
    EXPECT_TRUE(probe.resultEmpty);
    ASSERT_TRUE(probe.error);
    EXPECT_EQ(probe.error->errorCode(), 40400);
    EXPECT_EQ(probe.error->message(), "参数缺失");
    // Nothing was sent, so nothing arrives later either.
    platform::RunLoop::main()->runUntil([&] { return probe.calls > 1; }, 0.05);
    EXPECT_EQ(probe.calls, 1);
}

INSTANTIATE_TEST_SUITE_P(Gated, GateTest, ::testing::ValuesIn(gateRows()),
                         [](const auto& info) { return info.param.name; });

TEST_F(GateTest, NilCompletionIsNotCalledAndDoesNotCrash) {
    DM::getUserKeyListWithRoomId(nil, nullptr);
    DM::openDoorWithRoomId(nil, nil, nullptr);
    DM::getMobileOfProprietorWithRoomId(nil, nullptr);
}

TEST_F(GateTest, RefusalRunsOnTheCallingThreadWhateverThreadThatIs) {
    std::thread::id answeredOn;
    std::thread::id caller;
    int calls = 0;
    std::thread worker([&] {
        caller = std::this_thread::get_id();
        DM::getDoorPasswordWithRoomId(nil, [&](const std::shared_ptr<PellixDoorPassword>& r, const PellixErrorPtr& e) {
            answeredOn = std::this_thread::get_id();
            EXPECT_FALSE(r);
            EXPECT_EQ(e->errorCode(), 40400);
            ++calls;
        });
        EXPECT_EQ(calls, 1);
    });
    worker.join();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(answeredOn, caller);
}

// Defaults that complete a record let it through the gate: no answer comes
// back on the calling thread; the request goes to the dead port, and its
// failure arrives later on the main queue (the probes must outlive it).
TEST_F(GateTest, DefaultsCompleteTheRecord) {
    const std::vector<std::function<void(Probe&)>> calls = {
        [](Probe& p) { DM::setUserTransferNumberWithRoomId("r", "138", "", p.flag()); },
        [](Probe& p) { DM::setUserTransferNumberWithRoomId("r", "138", nil, p.flag()); },
        [](Probe& p) { DM::addAuthorizeWithNationCode(nil, "n", "138", "r", "1", "b", "e", p.flag()); },
        [](Probe& p) { DM::openDoorWithRoomId("r", "d", p.flag()); },
        [](Probe& p) { DM::getAuthorizeListWithRoomId("r", nil, nil, p.record<PellixAuthorizeListInfo>()); },
        [](Probe& p) { DM::contactPropertyHistoryWithDepID("d", nil, nil, p.list<PellixPropertyPublishInfo>()); },
        [](Probe& p) { DM::getSelfAuthRecordWithStartPage(0, 0, p.list<PellixSelfAuthRecord>()); },
    };
    std::vector<std::unique_ptr<Probe>> probes;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        probes.push_back(std::make_unique<Probe>());
        calls[i](*probes.back());
        EXPECT_EQ(probes.back()->calls, 0) << "call " << i;
    }
    auto allAnswered = [&] {
        for (const auto& p : probes) {
            if (p->calls == 0) return false;
        }
        return true;
    };
    ASSERT_TRUE(platform::RunLoop::main()->runUntil(allAnswered, 30));
    for (std::size_t i = 0; i < probes.size(); ++i) {
        EXPECT_EQ(probes[i]->calls, 1) << "call " << i;
        ASSERT_TRUE(probes[i]->error) << "call " << i;
        EXPECT_NE(probes[i]->error->errorCode(), 40400) << "call " << i;
    }
}

}  // namespace
}  // namespace pellix
