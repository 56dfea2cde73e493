// BLEPeripheral: the device's Bluetooth Low Energy peripheral role: one
// local GATT service and one advertisement, through BlueZ over the system
// D-Bus (DBUS_SYSTEM_BUS_ADDRESS is honoured).
//
// The adapter used is the first BlueZ adapter (by object path) that offers
// LE advertising. Its state: unknown until the first look; unsupported
// without a reachable bus, BlueZ, an adapter or LE advertising; unauthorized
// when the bus refuses us; resetting while the adapter powers on or off;
// powered off / on from the adapter's "Powered". Later changes of "Powered"
// are reported as they come.
//
// Operations never block the caller: each is queued to this object's own
// D-Bus thread, which also answers BlueZ's questions about our objects.
// Outcomes (state updates, service added, advertising started) are delivered
// to the callbacks on the main queue; a platform failure comes with an error
// (domain kErrorDomain, code 1, the D-Bus error name and text in the user
// info). Nothing is delivered once the object is gone or its callbacks are
// cleared.
//
// Life: destruction withdraws the advertisement and the service and stops
// the thread (waiting for it, never for the main queue).
// Thread-safety: every member from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Error.h"

namespace pellix::platform {

class BLEPeripheral : public std::enable_shared_from_this<BLEPeripheral> {
public:
    static constexpr const char* kErrorDomain = "BLEPeripheralErrorDomain";
    static constexpr const char* kDBusErrorNameKey = "DBusErrorName";

    enum class State { Unknown, Resetting, Unsupported, Unauthorized, PoweredOff, PoweredOn };

    struct Callbacks {
        std::function<void(State)> didUpdateState;
        std::function<void(ErrorPtr)> didAddService;
        std::function<void(ErrorPtr)> didStartAdvertising;
    };

    // Starts the D-Bus thread, which looks for the adapter at once and then
    // reports the state.
    static std::shared_ptr<BLEPeripheral> create(Callbacks callbacks);
    ~BLEPeripheral();
    BLEPeripheral(const BLEPeripheral&) = delete;
    BLEPeripheral& operator=(const BLEPeripheral&) = delete;

    State state() const;
    // An advertisement is registered with BlueZ (or its registration is on the way).
    bool isAdvertising() const;
    // Drops every callback; nothing more is delivered.
    void clearCallbacks();

    // Publishes one primary service without characteristics (replacing the
    // one held); didAddService follows.
    void addService(const std::string& uuid);
    // Registers an advertisement carrying only the local name (replacing the
    // one held); didStartAdvertising follows.
    void startAdvertising(const std::string& localName);
    // Withdraws the advertisement; nothing is delivered. Harmless without one.
    void stopAdvertising();
    // Withdraws the service; nothing is delivered. Harmless without one.
    void removeAllServices();

private:
    struct Loop;
    explicit BLEPeripheral(Callbacks callbacks);

    std::unique_ptr<Loop> loop_;
};

}  // namespace pellix::platform
