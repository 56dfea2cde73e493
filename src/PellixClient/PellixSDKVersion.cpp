#include "PellixClient/PellixSDKVersion.h"

namespace pellix {

const double PellixSDKVersionNumber = 1.0;
const unsigned char PellixSDKVersionString[] = "@(#)PROGRAM:PellixSDK  PROJECT:PellixSDK-" PELLIX_VERSION "\n";

}  // namespace pellix
