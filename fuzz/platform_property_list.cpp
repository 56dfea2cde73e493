// Property-list reader (binary and XML) on arbitrary bytes; a binary list it
// accepts must write and read back with the same text form.
#include <cstddef>
#include <cstdint>

#include "platform/PropertyList.h"

using namespace pellix::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto v = PropertyList::read(Bytes(data, data + size));
    if (!v) return 0;
    auto bin = PropertyList::write(*v, PropertyList::Format::Binary);
    if (bin) {
        auto back = PropertyList::read(*bin);
        // Text forms, not ==, so a NaN read from the input compares equal.
        if (!back || back->description() != v->description()) __builtin_trap();
    }
    (void)PropertyList::write(*v, PropertyList::Format::XML);
    return 0;
}
