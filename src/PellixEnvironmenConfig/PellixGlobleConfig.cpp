#include "PellixEnvironmenConfig/PellixGlobleConfig.h"

#include <array>

namespace pellix {

namespace {

std::mutex& tableMutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::array<PellixGlobleConfig::Environment, 3>& table() {
    static auto* rows = new std::array<PellixGlobleConfig::Environment, 3>{{
        {"https://api.test.pellix.example:8009", "mqtt.test.pellix.example", 1883},
        {"https://api.pre.pellix.example:8009", "mqtt.pre.pellix.example", 1883},
        {"https://api.pellix.example", "mqtt.pellix.example", 1883},
    }};
    return *rows;
}

std::size_t rowIndex(std::uint64_t row) { return row <= 1 ? static_cast<std::size_t>(row) : 2; }

}  // namespace

const std::shared_ptr<PellixGlobleConfig>& PellixGlobleConfig::sharedInstance() {
    static const auto* instance = new std::shared_ptr<PellixGlobleConfig>(new PellixGlobleConfig());
    return *instance;
}

PellixGlobleConfig::PellixGlobleConfig() { setPellixSDKMode(2); }

PellixGlobleConfig::Environment PellixGlobleConfig::environment(std::uint64_t row) {
    std::lock_guard lock(tableMutex());
    return table()[rowIndex(row)];
}

void PellixGlobleConfig::setEnvironment(std::uint64_t row, Environment environment) {
    std::lock_guard lock(tableMutex());
    table()[rowIndex(row)] = std::move(environment);
}

void PellixGlobleConfig::apply(std::uint64_t row) {
    Environment env = environment(row);
    std::lock_guard lock(mutex_);
    mqttServer_ = std::move(env.mqttServer);
    mqttPort_ = env.mqttPort;
    httpUrlStr_ = std::move(env.httpUrlStr);
}

void PellixGlobleConfig::setPellixSDKMode(std::uint64_t mode) {
    {
        std::lock_guard lock(mutex_);
        mode_ = mode;
    }
    switch (mode) {
        case 0: textMode(); break;
        case 1: preDistributeMode(); break;
        default: distributeMode(); break;
    }
}

void PellixGlobleConfig::textMode() { apply(0); }
void PellixGlobleConfig::preDistributeMode() { apply(1); }
void PellixGlobleConfig::distributeMode() { apply(2); }

std::string PellixGlobleConfig::mqttServer() const {
    std::lock_guard lock(mutex_);
    return mqttServer_;
}
void PellixGlobleConfig::setMqttServer(std::string server) {
    std::lock_guard lock(mutex_);
    mqttServer_ = std::move(server);
}
std::uint32_t PellixGlobleConfig::mqttPort() const {
    std::lock_guard lock(mutex_);
    return mqttPort_;
}
void PellixGlobleConfig::setMqttPort(std::uint32_t port) {
    std::lock_guard lock(mutex_);
    mqttPort_ = port;
}
float PellixGlobleConfig::requestTimeout() const {
    std::lock_guard lock(mutex_);
    return requestTimeout_;
}
void PellixGlobleConfig::setRequestTimeout(float seconds) {
    std::lock_guard lock(mutex_);
    requestTimeout_ = seconds;
}
std::string PellixGlobleConfig::httpUrlStr() const {
    std::lock_guard lock(mutex_);
    return httpUrlStr_;
}
std::uint64_t PellixGlobleConfig::mode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

}  // namespace pellix
