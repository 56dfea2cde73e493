#pragma once
// The engine's own reading of SIP message parts that sofia hands over
// undigested: custom header lines and application/dtmf-relay bodies. No I/O,
// no state; every input is treated as hostile (sizes capped, text checked).
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace client::headers {

inline constexpr std::size_t kMaxHeaders = 32;
inline constexpr std::size_t kMaxValueBytes = 1024;

bool isValidUtf8(std::string_view text);
// RFC 3261 token characters only, 1-64 of them.
bool isToken(std::string_view name);

// The custom header map of a request: the "X-" headers among `raw` (name,
// value as sofia parsed them), in order, the first of a repeated name kept.
// Left out: names that are not tokens, values that are not valid UTF-8 or
// are longer than kMaxValueBytes, anything past kMaxHeaders.
std::map<std::string, std::string> readCustom(const std::vector<std::pair<std::string, std::string>>& raw);

// The header block ("Name: value\r\n"...) for headers the host asked to send;
// a header whose name is not a token or whose value holds CR, LF or NUL (it
// would inject lines into the request) is left out.
std::string writeBlock(const std::map<std::string, std::string>& headers);

// "Signal=7\r\nDuration=160\r\n" -> "7". nullopt when there is no valid signal
// (one of 0-9 * # A-D, or the event numbers 10 and 11 for * and #).
std::optional<char> readDtmfRelay(std::string_view body);
std::string writeDtmfRelay(char tone, int durationMs = 160);
bool isDtmfTone(char tone);

}  // namespace client::headers
