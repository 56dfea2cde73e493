// The storage client's clock: the process-wide clock skew and the HTTP date
// form "EEE, dd MMM yyyy HH:mm:ss z" in GMT with English names, e.g.
// "Wed, 09 Dec 2026 09:23:16 GMT".
//
// Dates are the platform's date value: seconds since 1970-01-01 UTC (double),
// "now" being platform::Clock::now(). Formatting and parsing are our own code
// and never consult the process locale or time zone, so a German or Japanese
// device still stamps requests the way the service reads them.
//
// Thread-safety: every function may be called from any thread; the skew is
// read and written under one lock.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellix {

// The pattern the service's "Date" header is written in.
inline constexpr const char* serverReturnDateFormat = "EEE, dd MMM yyyy HH:mm:ss z";

// Stores the clock skew: local clock minus server clock, in seconds (0 at
// process start, never persisted).
void hos_setClockSkew(double seconds);
// The current time minus the stored skew: the server's clock as last observed.
double hos_clockSkewFixedDate();

// Parses an HTTP date of the pattern above. The zone may be "GMT", "UTC",
// "GMT" followed by an offset such as "+08:00", or a bare offset "+0800".
// Day and month names are the English three-letter forms (any letter case).
// std::nullopt for anything else: wrong field counts, out-of-range fields
// (31 Feb, 24:00:00), trailing text.
std::optional<double> hos_dateFromString(std::string_view text);
// Formats a date in GMT. Fractions of a second are dropped (the time is
// rounded down to the whole second before it).
std::string hos_asStringValue(double date);

// Sets the skew from a reply's "Date" header: local now minus that date.
// A missing or unparseable header leaves the skew as it was (returns false),
// so one malformed reply cannot throw every later request's signature out.
bool hos_setClockSkewFromServerDate(const std::optional<std::string>& dateHeader);

}  // namespace pellix
