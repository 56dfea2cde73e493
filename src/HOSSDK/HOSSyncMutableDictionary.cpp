#include "HOSSDK/HOSSyncMutableDictionary.h"

namespace pellix {

std::vector<HOSSyncMutableDictionary::Key> HOSSyncMutableDictionary::allKeys() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<Key> keys;
    for (const auto& entry : dictionary_) keys.push_back(entry.first);
    return keys;
}

HOSSyncMutableDictionary::Value HOSSyncMutableDictionary::objectForKey(Key key) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = dictionary_.find(key);
    return it == dictionary_.end() ? nullptr : it->second;
}

void HOSSyncMutableDictionary::setObject(Value value, Key key) {
    std::lock_guard<std::mutex> guard(lock_);
    dictionary_[key] = std::move(value);
}

void HOSSyncMutableDictionary::removeObjectForKey(Key key) {
    std::lock_guard<std::mutex> guard(lock_);
    dictionary_.erase(key);
}

HOSSyncMutableDictionary::Value HOSSyncMutableDictionary::take(Key key) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = dictionary_.find(key);
    if (it == dictionary_.end()) return nullptr;
    auto value = std::move(it->second);
    dictionary_.erase(it);
    return value;
}

}  // namespace pellix
