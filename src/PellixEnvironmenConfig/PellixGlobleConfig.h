// PellixGlobleConfig: the process-wide environment: which HTTPS API and which
// MQTT broker the SDK talks to, and the request timeout.
//
// Three environments: 0 test, 1 pre-release, 2 (and every other mode)
// production. Until registration applies the host's options the production
// environment is in force and the timeout is 0. The host may replace any
// environment's API base URL and broker (setEnvironment) before selecting it;
// tests point them at loopback servers.
//
// Thread safety: every accessor takes the object's lock, so any thread may
// read while the main thread writes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace pellix {

class PellixGlobleConfig {
public:
    // One row of the environment table.
    struct Environment {
        std::string httpUrlStr;  // scheme, host and, where present, port; no trailing slash
        std::string mqttServer;  // broker host name
        std::uint32_t mqttPort = 1883;
    };

    static const std::shared_ptr<PellixGlobleConfig>& sharedInstance();

    // Row 0 test, 1 pre-release, 2 production (any other row number is 2).
    // A replaced row takes effect the next time it is applied.
    static Environment environment(std::uint64_t row);
    static void setEnvironment(std::uint64_t row, Environment environment);

    // Stores `mode`, then applies its row; any mode other than 0 and 1
    // applies the production row while mode() keeps the value given.
    void setPellixSDKMode(std::uint64_t mode);
    // Each sets mqttServer, mqttPort and httpUrlStr to its row; mode is unchanged.
    void textMode();
    void preDistributeMode();
    void distributeMode();

    std::string mqttServer() const;
    void setMqttServer(std::string server);
    std::uint32_t mqttPort() const;
    void setMqttPort(std::uint32_t port);
    float requestTimeout() const;
    void setRequestTimeout(float seconds);
    std::string httpUrlStr() const;
    std::uint64_t mode() const;

    PellixGlobleConfig(const PellixGlobleConfig&) = delete;
    PellixGlobleConfig& operator=(const PellixGlobleConfig&) = delete;

private:
    PellixGlobleConfig();
    void apply(std::uint64_t row);

    mutable std::mutex mutex_;
    std::string mqttServer_;
    std::uint32_t mqttPort_ = 0;
    float requestTimeout_ = 0;
    std::string httpUrlStr_;
    std::uint64_t mode_ = 0;
};

}  // namespace pellix
