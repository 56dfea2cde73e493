// HOSSyncMutableDictionary: the thread-safe in-flight map of the storage
// networking, session task identifier to request state. Each operation is
// atomic on its own; a lookup followed by a removal is two operations, so
// use take() where only one caller may win.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace pellix {

class HOSNetworkingRequestDelegate;

class HOSSyncMutableDictionary {
public:
    using Key = std::uint64_t;
    using Value = std::shared_ptr<HOSNetworkingRequestDelegate>;

    std::vector<Key> allKeys() const;
    Value objectForKey(Key key) const;
    void setObject(Value value, Key key);
    void removeObjectForKey(Key key);
    // Lookup and removal in one step: the value, or null when absent.
    Value take(Key key);

private:
    mutable std::mutex lock_;
    std::map<Key, Value> dictionary_;
};

}  // namespace pellix
