// The walks behind MQTTPersistence's counts and queue, for a store that
// keeps no index of its own.
#include "MQTTClient/MQTTPersistence.h"

#include <algorithm>

namespace pellix {

namespace {

bool queued(const MQTTFlowPtr& flow) { return flow->commandType().value_or(MQTTFlowCommandQueued) == MQTTFlowCommandQueued; }

// The client's outgoing flows that are (or are not) queued, deadline
// ascending; stable, so the walk's own order stands for the order of storing.
std::vector<MQTTFlowPtr> outgoingByDeadline(MQTTPersistence& store, const std::string& clientId, bool wantQueued) {
    std::vector<MQTTFlowPtr> flows;
    for (auto& flow : store.allFlowsforClientId(clientId, false)) {
        if (queued(flow) == wantQueued) flows.push_back(std::move(flow));
    }
    std::stable_sort(flows.begin(), flows.end(), [](const MQTTFlowPtr& a, const MQTTFlowPtr& b) {
        return a->deadline() < b->deadline();  // an unset deadline sorts first
    });
    return flows;
}

}  // namespace

std::uint64_t MQTTPersistence::flowCountforClientId(const std::string& clientId, bool incomingFlag) {
    return allFlowsforClientId(clientId, incomingFlag).size();
}

std::uint64_t MQTTPersistence::queuedCountforClientId(const std::string& clientId) {
    const auto flows = allFlowsforClientId(clientId, false);
    return static_cast<std::uint64_t>(std::count_if(flows.begin(), flows.end(), queued));
}

std::vector<MQTTFlowPtr> MQTTPersistence::queuedFlowsforClientId(const std::string& clientId, std::size_t limit) {
    auto flows = outgoingByDeadline(*this, clientId, true);
    if (flows.size() > limit) flows.resize(limit);
    return flows;
}

std::vector<MQTTFlowPtr> MQTTPersistence::inFlightFlowsforClientId(const std::string& clientId) {
    return outgoingByDeadline(*this, clientId, false);
}

}  // namespace pellix
