#pragma once

namespace pellix {

// The library's version, as the host reads it at run time.
extern const double PellixSDKVersionNumber;
extern const unsigned char PellixSDKVersionString[];

}  // namespace pellix
