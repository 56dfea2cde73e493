// Small helpers shared by the HTTP client layer: user-visible texts and
// precondition checks.
#pragma once

#include <string>

namespace pellix {

// The layer's user-visible failure texts are English keys of the host's
// strings table "TVNetworking"; the platform stand-in has no strings tables,
// so the English text stands.
std::string TVNetworkingLocalizedString(const std::string& key);

// A broken precondition of a public operation is a programming error: raises
// platform::Exception (NSInternalInconsistencyException) with
// "Invalid parameter not satisfying: <condition>".
void TVParameterAssert(bool condition, const char* conditionText);

}  // namespace pellix
