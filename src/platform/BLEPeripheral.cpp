#include "platform/BLEPeripheral.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/DispatchQueue.h"

namespace pellix::platform {

namespace {

constexpr const char* kBlueZ = "org.bluez";
constexpr const char* kAdapter = "org.bluez.Adapter1";
constexpr const char* kAdvertisingManager = "org.bluez.LEAdvertisingManager1";
constexpr const char* kGattManager = "org.bluez.GattManager1";
constexpr const char* kAdvertisement = "org.bluez.LEAdvertisement1";
constexpr const char* kGattService = "org.bluez.GattService1";
constexpr auto kLookupTimeout = std::chrono::seconds(3);

using Properties = std::map<std::string, sdbus::Variant>;
using ManagedObjects = std::map<sdbus::ObjectPath, std::map<std::string, Properties>>;

std::atomic<unsigned> instances{0};

ErrorPtr errorFrom(const std::string& name, const std::string& message) {
    Dictionary info;
    info.set(BLEPeripheral::kDBusErrorNameKey, name);
    info.set(Error::kLocalizedDescriptionKey, message.empty() ? name : message);
    return Error::make(BLEPeripheral::kErrorDomain, 1, std::move(info));
}

ErrorPtr errorFrom(const sdbus::Error* e) { return e ? errorFrom(e->getName(), e->getMessage()) : nullptr; }

}  // namespace

struct BLEPeripheral::Loop {
    struct Box {
        std::mutex mutex;
        Callbacks callbacks;
    };
    std::shared_ptr<Box> box = std::make_shared<Box>();

    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::thread thread;
    std::atomic<State> state{State::Unknown};
    std::atomic<bool> advertising{false};

    // Owned by the loop's thread alone.
    std::unique_ptr<sdbus::IConnection> bus;
    std::unique_ptr<sdbus::IProxy> adapter;
    std::string adapterPath;
    std::string base = "/org/pellix/ble/p" + std::to_string(++instances);
    bool reported = false;
    bool powered = false;
    std::string powerState;
    std::unique_ptr<sdbus::IObject> advert, app, service;
    std::string advertPath, appPath;
    unsigned serial = 0;

    ~Loop() {
        if (wake >= 0) ::close(wake);
    }

    void post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex);
            tasks.push_back(std::move(task));
        }
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wake, &one, sizeof one);
    }

    template <typename F>
    void deliver(F call) {
        DispatchQueue::main()->async([box = box, call = std::move(call)] {
            Callbacks cb;
            {
                std::lock_guard lock(box->mutex);
                cb = box->callbacks;
            }
            call(cb);
        });
    }

    void report(State s) {
        if (reported && state.load() == s) return;
        reported = true;
        state = s;
        deliver([s](const Callbacks& cb) {
            if (cb.didUpdateState) cb.didUpdateState(s);
        });
    }

    State adapterState() const {
        if (powerState == "off-enabling" || powerState == "on-disabling") return State::Resetting;
        return powered ? State::PoweredOn : State::PoweredOff;
    }

    void readAdapter(const Properties& props) {
        if (auto p = props.find("Powered"); p != props.end()) powered = p->second.get<bool>();
        if (auto p = props.find("PowerState"); p != props.end()) powerState = p->second.get<std::string>();
    }

    void discover() {
        try {
            bus = sdbus::createSystemBusConnection();
        } catch (const sdbus::Error&) {
            return report(State::Unsupported);
        }
        ManagedObjects objects;
        try {
            auto root = sdbus::createProxy(*bus, kBlueZ, "/");
            root->callMethod("GetManagedObjects")
                .onInterface("org.freedesktop.DBus.ObjectManager")
                .withTimeout(kLookupTimeout)
                .storeResultsTo(objects);
        } catch (const sdbus::Error& e) {
            return report(e.getName() == "org.freedesktop.DBus.Error.AccessDenied" ? State::Unauthorized
                                                                                  : State::Unsupported);
        }
        for (const auto& [path, interfaces] : objects) {
            auto a = interfaces.find(kAdapter);
            if (a == interfaces.end() || !interfaces.count(kAdvertisingManager)) continue;
            adapterPath = path;
            try {
                readAdapter(a->second);
            } catch (const sdbus::Error&) {
            }
            break;
        }
        if (adapterPath.empty()) return report(State::Unsupported);
        try {
            adapter = sdbus::createProxy(*bus, kBlueZ, adapterPath);
            adapter->uponSignal("PropertiesChanged")
                .onInterface("org.freedesktop.DBus.Properties")
                .call([this](const std::string& interface, const Properties& changed,
                             const std::vector<std::string>&) {
                    if (interface != kAdapter) return;
                    try {
                        readAdapter(changed);
                    } catch (const sdbus::Error&) {
                    }
                    report(adapterState());
                });
            adapter->finishRegistration();
        } catch (const sdbus::Error&) {
            adapter.reset();
            return report(State::Unsupported);
        }
        report(adapterState());
    }

    ErrorPtr notReady() const { return errorFrom("org.bluez.Error.NotReady", "no usable Bluetooth adapter"); }

    // Tells BlueZ to forget one of our objects; the answer does not matter.
    void withdraw(const char* method, const char* interface, const std::string& path) {
        if (!adapter) return;
        try {
            adapter->callMethodAsync(method)
                .onInterface(interface)
                .withArguments(sdbus::ObjectPath(path))
                .uponReplyInvoke([](const sdbus::Error*) {});
        } catch (const sdbus::Error&) {
        }
    }

    void dropAdvert() {
        advertising = false;
        if (!advert) return;
        advert.reset();
        withdraw("UnregisterAdvertisement", kAdvertisingManager, advertPath);
    }

    void dropService() {
        if (!app) return;
        service.reset();
        app.reset();
        withdraw("UnregisterApplication", kGattManager, appPath);
    }

    void addService(const std::string& uuid) {
        dropService();
        auto done = [this](ErrorPtr e) {
            deliver([e](const Callbacks& cb) {
                if (cb.didAddService) cb.didAddService(e);
            });
        };
        if (!adapter) return done(notReady());
        try {
            appPath = base + "/app" + std::to_string(++serial);
            app = sdbus::createObject(*bus, appPath);
            app->addObjectManager();
            service = sdbus::createObject(*bus, appPath + "/service0");
            service->registerProperty("UUID").onInterface(kGattService).withGetter([uuid] { return uuid; });
            service->registerProperty("Primary").onInterface(kGattService).withGetter([] { return true; });
            service->registerProperty("Characteristics").onInterface(kGattService).withGetter([] {
                return std::vector<sdbus::ObjectPath>{};
            });
            service->finishRegistration();
            adapter->callMethodAsync("RegisterApplication")
                .onInterface(kGattManager)
                .withArguments(sdbus::ObjectPath(appPath), Properties{})
                .uponReplyInvoke([done](const sdbus::Error* e) { done(errorFrom(e)); });
        } catch (const sdbus::Error& e) {
            service.reset();
            app.reset();
            done(errorFrom(&e));
        }
    }

    void startAdvertising(const std::string& localName) {
        dropAdvert();
        auto done = [this](ErrorPtr e) {
            deliver([e](const Callbacks& cb) {
                if (cb.didStartAdvertising) cb.didStartAdvertising(e);
            });
        };
        if (!adapter) return done(notReady());
        try {
            advertPath = base + "/advertisement" + std::to_string(++serial);
            advert = sdbus::createObject(*bus, advertPath);
            const std::string path = advertPath;
            // BlueZ calls Release when it drops the advertisement itself.
            advert->registerMethod("Release").onInterface(kAdvertisement).implementedAs([this, path] {
                if (advertPath == path) advertising = false;
            });
            advert->registerProperty("Type").onInterface(kAdvertisement).withGetter([] {
                return std::string("peripheral");
            });
            advert->registerProperty("LocalName").onInterface(kAdvertisement).withGetter([localName] {
                return localName;
            });
            advert->finishRegistration();
            advertising = true;
            adapter->callMethodAsync("RegisterAdvertisement")
                .onInterface(kAdvertisingManager)
                .withArguments(sdbus::ObjectPath(advertPath), Properties{})
                .uponReplyInvoke([this, path, done](const sdbus::Error* e) {
                    if (e && advertPath == path && advert) {
                        advertising = false;
                        advert.reset();
                    }
                    done(errorFrom(e));
                });
        } catch (const sdbus::Error& e) {
            advertising = false;
            advert.reset();
            done(errorFrom(&e));
        }
    }

    void run() {
        discover();
        for (;;) {
            if (bus) {
                try {
                    while (bus->processPendingRequest()) {
                    }
                } catch (const sdbus::Error&) {
                }
            }
            std::deque<std::function<void()>> batch;
            bool stop = false;
            {
                std::lock_guard lock(mutex);
                batch.swap(tasks);
                stop = stopping;
            }
            if (!batch.empty()) {
                for (auto& t : batch) t();
                continue;  // the tasks may have queued messages to send
            }
            if (stop) break;
            pollfd p[2] = {{wake, POLLIN, 0}, {-1, 0, 0}};
            int timeout = -1;
            if (bus) {
                auto pd = bus->getEventLoopPollData();
                p[1] = {pd.fd, pd.events, 0};
                timeout = pd.getPollTimeout();
            }
            if (::poll(p, bus ? 2 : 1, timeout) < 0 && errno != EINTR) break;
            std::uint64_t n;
            [[maybe_unused]] auto r = ::read(wake, &n, sizeof n);
        }
        dropAdvert();
        dropService();
        adapter.reset();
        bus.reset();  // flushes the withdrawals above
    }
};

BLEPeripheral::BLEPeripheral(Callbacks callbacks) : loop_(std::make_unique<Loop>()) {
    loop_->box->callbacks = std::move(callbacks);
}

std::shared_ptr<BLEPeripheral> BLEPeripheral::create(Callbacks callbacks) {
    std::shared_ptr<BLEPeripheral> p(new BLEPeripheral(std::move(callbacks)));
    Loop* loop = p->loop_.get();
    loop->thread = std::thread([loop] { loop->run(); });
    return p;
}

BLEPeripheral::~BLEPeripheral() {
    clearCallbacks();
    {
        std::lock_guard lock(loop_->mutex);
        loop_->stopping = true;
    }
    loop_->post([] {});
    if (loop_->thread.joinable()) loop_->thread.join();
}

BLEPeripheral::State BLEPeripheral::state() const { return loop_->state.load(); }
bool BLEPeripheral::isAdvertising() const { return loop_->advertising.load(); }

void BLEPeripheral::clearCallbacks() {
    std::lock_guard lock(loop_->box->mutex);
    loop_->box->callbacks = {};
}

void BLEPeripheral::addService(const std::string& uuid) {
    Loop* loop = loop_.get();
    loop->post([loop, uuid] { loop->addService(uuid); });
}

void BLEPeripheral::startAdvertising(const std::string& localName) {
    Loop* loop = loop_.get();
    loop->advertising = true;
    loop->post([loop, localName] { loop->startAdvertising(localName); });
}

void BLEPeripheral::stopAdvertising() {
    Loop* loop = loop_.get();
    loop->advertising = false;
    loop->post([loop] { loop->dropAdvert(); });
}

void BLEPeripheral::removeAllServices() {
    Loop* loop = loop_.get();
    loop->post([loop] { loop->dropService(); });
}

}  // namespace pellix::platform
