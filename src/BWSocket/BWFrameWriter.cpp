#include "BWSocket/BWFrameWriter.h"

#include <cstring>

#include "platform/Crypto.h"

namespace pellix {

void BWAppendFrame(platform::Bytes& out, BWOpcode opcode, std::span<const std::uint8_t> payload, BWMaskKey key) {
    const std::uint64_t length = payload.size();
    std::uint8_t header[14];
    std::size_t n = 0;
    header[n++] = static_cast<std::uint8_t>(0x80 | opcode);
    if (length < 126) {
        header[n++] = static_cast<std::uint8_t>(0x80 | length);
    } else if (length <= 0xFFFF) {
        header[n++] = 0x80 | 126;
        header[n++] = static_cast<std::uint8_t>(length >> 8);
        header[n++] = static_cast<std::uint8_t>(length);
    } else {
        header[n++] = 0x80 | 127;
        for (int shift = 56; shift >= 0; shift -= 8) header[n++] = static_cast<std::uint8_t>(length >> shift);
    }
    std::memcpy(header + n, key.data(), 4);
    n += 4;

    const std::size_t start = out.size();
    out.resize(start + n + payload.size());
    std::uint8_t* dst = out.data() + start;
    std::memcpy(dst, header, n);
    dst += n;
    const std::uint8_t* src = payload.data();
    std::size_t i = 0;
    // Eight bytes at a time: the key repeats every four, so twice in a word.
    std::uint64_t key8;
    std::uint8_t twice[8] = {key[0], key[1], key[2], key[3], key[0], key[1], key[2], key[3]};
    std::memcpy(&key8, twice, 8);
    for (; i + 8 <= payload.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, src + i, 8);
        word ^= key8;
        std::memcpy(dst + i, &word, 8);
    }
    for (; i < payload.size(); ++i) dst[i] = src[i] ^ key[i % 4];
}

BWMaskKey BWRandomMaskKey() {
    BWMaskKey key{};
    if (!platform::crypto::randomBytes(key.data(), key.size())) {
        // The generator does not fail on Linux; a fixed key would still be a valid frame.
        key = {0x5a, 0x3c, 0x96, 0xe1};
    }
    return key;
}

}  // namespace pellix
