// The example host: a small program that uses the library the way a
// resident's app would. It grows with the library.
#include <cstdio>

#include "PellixClient/PellixSDKVersion.h"

int main() {
    std::printf("Pellix SDK %.1f\n", pellix::PellixSDKVersionNumber);
    return 0;
}
