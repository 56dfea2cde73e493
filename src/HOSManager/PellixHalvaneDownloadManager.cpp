#include "HOSManager/PellixHalvaneDownloadManager.h"

#include <algorithm>
#include <cmath>

#include "platform/Clock.h"
#include "platform/DateFormatter.h"

namespace pellix {

namespace {

constexpr const char* kUTCPattern = "yyyy-MM-dd'T'HH:mm:ssZ";
constexpr const char* kLocalPattern = "yyyy-MM-dd HH:mm";
constexpr double kExpiryMarginMinutes = 5;

}  // namespace

PellixHalvaneDownloadManager& PellixHalvaneDownloadManager::sharedManager() {
    static PellixHalvaneDownloadManager* manager = new PellixHalvaneDownloadManager;  // never destroyed
    return *manager;
}

std::shared_ptr<PXHalvaneInfoClassModel> PellixHalvaneDownloadManager::aliModel() const {
    std::lock_guard guard(modelLock_);
    return aliModel_;
}

void PellixHalvaneDownloadManager::setAliModel(std::shared_ptr<PXHalvaneInfoClassModel> model) {
    if (model) {
        // Stamped before it is shared, so readers never see it change.
        const auto& credentials = model->credentials();
        const PellixText& expiration = credentials ? credentials->Expiration() : PellixText();
        auto local = expiration && !expiration->empty() ? getLocalDateFormateUTCDate(*expiration) : std::nullopt;
        model->setLocalExpiration(local);
        if (!local) model = nullptr;
    }
    std::lock_guard guard(modelLock_);
    aliModel_ = std::move(model);
}

bool PellixHalvaneDownloadManager::isExpirationTime() const {
    auto model = aliModel();
    if (!model || !model->credentials() || !model->credentials()->Expiration() || !model->localExpiration())
        return true;
    auto expiry = platform::DateFormatter::parse(*model->localExpiration(), kLocalPattern);
    if (!expiry) return true;
    const double now = std::floor(platform::Clock::now());
    return (*expiry - now) / 60.0 <= kExpiryMarginMinutes;
}

std::optional<std::string> PellixHalvaneDownloadManager::getLocalDateFormateUTCDate(const std::string& utcDate) {
    auto date = platform::DateFormatter::parse(utcDate, kUTCPattern);
    if (!date) return std::nullopt;
    return platform::DateFormatter::format(*date, kLocalPattern);
}

std::vector<std::string> PellixHalvaneDownloadManager::runningDownloaders() const {
    std::lock_guard guard(runningLock_);
    return runningOrder_;
}

bool PellixHalvaneDownloadManager::isDownloadingWithKey(const std::string& key) const {
    std::lock_guard guard(runningLock_);
    return running_.count(key) != 0;
}

bool PellixHalvaneDownloadManager::safelyAddWithKey(const std::string& key) {
    std::lock_guard guard(runningLock_);
    if (!running_.emplace(key, std::vector<Waiter>{}).second) return false;
    runningOrder_.push_back(key);
    return true;
}

std::vector<PellixHalvaneDownloadManager::Waiter> PellixHalvaneDownloadManager::safelyRemoveWithKey(
    const std::string& key) {
    std::lock_guard guard(runningLock_);
    auto it = running_.find(key);
    if (it == running_.end()) return {};
    auto waiters = std::move(it->second);
    running_.erase(it);
    runningOrder_.erase(std::find(runningOrder_.begin(), runningOrder_.end(), key));
    return waiters;
}

bool PellixHalvaneDownloadManager::joinOrStartWithKey(const std::string& key, Waiter waiter) {
    std::lock_guard guard(runningLock_);
    auto [it, added] = running_.emplace(key, std::vector<Waiter>{});
    it->second.push_back(std::move(waiter));
    if (added) runningOrder_.push_back(key);
    return !added;
}

}  // namespace pellix
