// PELLIX_PARAM_ROUTE: the method and path of a parameter record, in one line
// of its class body (after PELLIX_PARAM_RECORD).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "PellixDataManager/PellixNetServer/RequestParams/PellixBaseRequestParam.h"

#define PELLIX_PARAM_ROUTE(Method, Path)                                                                      \
public:                                                                                                       \
    std::uint64_t buildRequestMethod() const override { return Method; }                                      \
    std::optional<std::string> buildRequestPath() const override { return std::string(Path); }               \
                                                                                                              \
private:
