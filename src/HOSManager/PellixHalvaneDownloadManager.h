// PellixHalvaneDownloadManager: the image tool's shared state: the last
// usable storage-credential reply and the object keys being downloaded, with
// the callers waiting for each.
//
// A reply is kept only while its expiry can be read; the folder names of the
// reply are used only while one is kept. A download of a key already in
// flight does not start a second transfer: its caller joins the running one
// and hears its outcome (without that, the second caller never heard back).
//
// Thread safety: every member from any thread; the reply and the in-flight
// table each sit behind a lock of their own. Records handed out are not
// changed afterwards.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PXHalvaneInfoClassModel.h"
#include "platform/Value.h"

namespace pellix {

class PellixHalvaneDownloadManager {
public:
    // Who waits for one download: success gets the bytes and the key,
    // failure the key.
    struct Waiter {
        std::function<void(const platform::Bytes& data, const std::string& key)> success;
        std::function<void(const std::string& key)> failure;
    };

    static PellixHalvaneDownloadManager& sharedManager();
    PellixHalvaneDownloadManager(const PellixHalvaneDownloadManager&) = delete;
    PellixHalvaneDownloadManager& operator=(const PellixHalvaneDownloadManager&) = delete;

    // The last usable credential reply, or null.
    std::shared_ptr<PXHalvaneInfoClassModel> aliModel() const;
    // Keeps the reply, its localExpiration set from the credentials'
    // Expiration; a reply whose Expiration is missing, empty or unreadable
    // is dropped (aliModel becomes null). Null forgets the held one.
    void setAliModel(std::shared_ptr<PXHalvaneInfoClassModel> model);

    // Whether the held credentials are missing or have at most 5 minutes
    // left, counted in whole seconds against the local "yyyy-MM-dd HH:mm"
    // expiry (exactly 5 minutes counts as expired).
    bool isExpirationTime() const;

    // A "yyyy-MM-dd'T'HH:mm:ssZ" text re-written in the device's time zone
    // as "yyyy-MM-dd HH:mm"; nullopt when it does not parse.
    static std::optional<std::string> getLocalDateFormateUTCDate(const std::string& utcDate);

    // The keys with a download in flight, in the order they started.
    std::vector<std::string> runningDownloaders() const;
    bool isDownloadingWithKey(const std::string& key) const;
    // Marks the key in flight when it is not yet; true when it was added.
    bool safelyAddWithKey(const std::string& key);
    // Ends the key's download and hands back every waiter it had; none when
    // the key was not in flight.
    std::vector<Waiter> safelyRemoveWithKey(const std::string& key);
    // Adds the waiter to the key's download. True when a download of the key
    // was already in flight (the caller starts nothing); false when the key
    // is now marked in flight with this waiter and the caller must start it.
    bool joinOrStartWithKey(const std::string& key, Waiter waiter);

private:
    PellixHalvaneDownloadManager() = default;

    mutable std::mutex modelLock_;
    std::shared_ptr<PXHalvaneInfoClassModel> aliModel_;

    mutable std::mutex runningLock_;
    std::vector<std::string> runningOrder_;
    std::map<std::string, std::vector<Waiter>> running_;
};

}  // namespace pellix
