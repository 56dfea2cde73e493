// The pure framing core: reader, writer, incremental UTF-8.
#include <gtest/gtest.h>

#include <unicode/ustring.h>

#include <string>
#include <vector>

#include "BWSocket/BWFrameReader.h"
#include "BWSocket/BWFrameWriter.h"
#include "BWSocket/BWUTF8.h"

namespace pellix {
namespace {

using platform::Bytes;

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::string hex(const Bytes& b) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto c : b) (out += digits[c >> 4]) += digits[c & 15];
    return out;
}

// A server frame (unmasked unless a key is given).
Bytes frame(std::uint8_t b0, std::string_view payload, std::optional<BWMaskKey> key = std::nullopt) {
    Bytes out{b0};
    const std::uint8_t mask = key ? 0x80 : 0;
    if (payload.size() < 126) {
        out.push_back(mask | static_cast<std::uint8_t>(payload.size()));
    } else if (payload.size() <= 0xFFFF) {
        out.push_back(mask | 126);
        out.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(payload.size()));
    } else {
        out.push_back(mask | 127);
        for (int s = 56; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(payload.size() >> s));
    }
    if (key) out.insert(out.end(), key->begin(), key->end());
    for (std::size_t i = 0; i < payload.size(); ++i)
        out.push_back(static_cast<std::uint8_t>(payload[i]) ^ (key ? (*key)[i % 4] : 0));
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Records events as text lines, so streams can be compared.
struct Recorder : BWFrameReaderHandler {
    std::vector<std::string> events;
    void frameReaderMessage(BWOpcode opcode, Bytes&& payload) override {
        events.push_back((opcode == BWOpcodeText ? "text:" : "binary:") + std::string(payload.begin(), payload.end()));
    }
    void frameReaderPing(std::span<const std::uint8_t> p) override { events.push_back("ping:" + std::string(p.begin(), p.end())); }
    void frameReaderPong(std::span<const std::uint8_t> p) override { events.push_back("pong:" + std::string(p.begin(), p.end())); }
    void frameReaderClose(std::uint16_t code, std::optional<std::string> reason) override {
        events.push_back("close:" + std::to_string(code) + ":" + reason.value_or("<none>"));
    }
    void frameReaderError(std::uint16_t code, std::string reason) override {
        events.push_back("error:" + std::to_string(code) + ":" + reason);
    }
};

std::vector<std::string> readWhole(const Bytes& stream, std::uint64_t cap = BWFrameReader::kDefaultMaxMessageSize) {
    BWFrameReader reader(cap);
    Recorder r;
    reader.feed(stream, r);
    return r.events;
}

std::vector<std::string> readByteByByte(const Bytes& stream) {
    BWFrameReader reader;
    Recorder r;
    for (auto b : stream) reader.feed(std::span(&b, 1), r);
    return r.events;
}

TEST(BWFrameReader, FragmentedTextWithControlFramesBetweenIsOneMessageHoweverCut) {
    const Bytes stream = cat({frame(0x01, "Hel"), frame(0x89, "p1"), frame(0x00, "lo, w\xC3"), frame(0x8A, ""),
                              frame(0x80, "\xB6rld"), frame(0x82, std::string(70000, 'x')), frame(0x88, "\x03\xE8" "bye")});
    const std::vector<std::string> expected{"ping:p1", "pong:", "text:Hello, w\xC3\xB6rld",
                                            "binary:" + std::string(70000, 'x'), "close:1000:bye"};
    EXPECT_EQ(readWhole(stream), expected);
    EXPECT_EQ(readByteByByte(stream), expected);
}

TEST(BWFrameReader, ProtocolViolationsAnswerWithTheirCloseCodeAndDeliverNothing) {
    struct Case {
        const char* name;
        Bytes stream;
        std::string event;
    };
    const std::vector<Case> cases{
        {"reserved bit", frame(0xC1, "hi"), "error:1002:Server used RSV bits"},
        {"new opcode mid-message", cat({frame(0x01, "a"), frame(0x82, "b")}),
         "error:1002:all data frames after the initial data frame must have opcode 0"},
        {"continuation first", frame(0x80, "a"), "error:1002:cannot continue a message"},
        {"masked", frame(0x82, "secret", BWMaskKey{1, 2, 3, 4}), "error:1002:Client must receive unmasked data"},
        {"opcode 3", frame(0x83, ""), "error:1002:Unknown opcode 3"},
        {"opcode 11", frame(0x8B, ""), "error:1002:Unknown opcode 11"},
        {"fragmented ping", frame(0x09, ""), "error:1002:Fragmented control frames not allowed"},
        {"126-byte ping", frame(0x89, std::string(126, 'p')), "error:1002:Control frames cannot have payloads larger than 126 bytes"},
        {"1-byte close", frame(0x88, "\x03"), "error:1002:Payload for close must be larger than 2 bytes"},
        {"close 1005", frame(0x88, "\x03\xED"), "error:1002:Cannot have close code of 1005"},
        {"close 999", frame(0x88, "\x03\xE7"), "error:1002:Cannot have close code of 999"},
        {"close reason not UTF-8", frame(0x88, "\x03\xE8\xFF"), "error:1002:Close reason MUST be valid UTF-8"},
        {"bad text", frame(0x81, "ab\xC0 cd"), "error:1007:Text frames must be valid UTF-8"},
        {"text ends mid-character", frame(0x81, "ab\xE2\x82"), "error:1007:Text frames must be valid UTF-8"},
    };
    for (const auto& c : cases) {
        // A valid frame after the bad one must not be read.
        const Bytes stream = cat({c.stream, frame(0x82, "after")});
        EXPECT_EQ(readWhole(stream), std::vector<std::string>{c.event}) << c.name;
        EXPECT_EQ(readByteByByte(stream), std::vector<std::string>{c.event}) << c.name;
    }
}

TEST(BWFrameReader, BadTextIsRefusedBeforeTheMessageEnds) {
    BWFrameReader reader;
    Recorder r;
    reader.feed(frame(0x01, "fine"), r);
    EXPECT_TRUE(r.events.empty());
    reader.feed(frame(0x00, "\xC0\x20"), r);  // not final: the message is still open
    EXPECT_EQ(r.events, std::vector<std::string>{"error:1007:Text frames must be valid UTF-8"});
    EXPECT_TRUE(reader.stopped());
}

TEST(BWFrameReader, CloseFramesAndCodes) {
    EXPECT_EQ(readWhole(frame(0x88, "")), std::vector<std::string>{"close:1005:<none>"});
    EXPECT_EQ(readWhole(frame(0x88, "\x0F\xA0")), std::vector<std::string>{"close:4000:<none>"});
    EXPECT_EQ(readWhole(frame(0x88, "\x03\xE9" "going")), std::vector<std::string>{"close:1001:going"});
    // Nothing after a close frame is read.
    EXPECT_EQ(readWhole(cat({frame(0x88, "\x03\xE8"), frame(0x81, "late")})), std::vector<std::string>{"close:1000:<none>"});

    for (int code = 0; code < 6000; ++code) {
        const bool valid = (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) || (code >= 3000 && code <= 4999);
        ASSERT_EQ(BWCloseCodeIsValid(code), valid) << code;
    }
}

TEST(BWFrameReader, MessageCapIsCheckedAtTheHeaderAcrossFragments) {
    // 64-bit length far beyond the cap: refused before any payload arrives.
    Bytes huge{0x82, 127, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(readWhole(huge, 1024), std::vector<std::string>{"error:1009:Message too big"});
    // Top bit set (a "negative" length).
    Bytes top{0x82, 127, 0x80, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(readWhole(top), std::vector<std::string>{"error:1009:Message too big"});
    // Exactly at the cap passes; one fragment more fails.
    EXPECT_EQ(readWhole(frame(0x82, std::string(1024, 'a')), 1024), std::vector<std::string>{"binary:" + std::string(1024, 'a')});
    EXPECT_EQ(readWhole(cat({frame(0x02, std::string(1000, 'a')), frame(0x80, std::string(25, 'b'))}), 1024),
              std::vector<std::string>{"error:1009:Message too big"});
}

TEST(BWFrameWriter, LengthFormsMaskAndFinalFlag) {
    struct Case {
        std::size_t size;
        std::size_t headerSize;
        std::uint8_t lengthCode;
    };
    for (auto c : {Case{0, 6, 0}, Case{125, 6, 125}, Case{126, 8, 126}, Case{65535, 8, 126}, Case{65536, 14, 127}}) {
        Bytes payload(c.size);
        for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
        const BWMaskKey key{0xA1, 0xB2, 0xC3, 0xD4};
        Bytes out{0xEE};  // appends after what is there
        BWAppendFrame(out, BWOpcodeBinary, payload, key);
        ASSERT_EQ(out.size(), 1 + c.headerSize + c.size) << c.size;
        EXPECT_EQ(out[1], 0x82);
        EXPECT_EQ(out[2], 0x80 | c.lengthCode) << c.size;
        std::uint64_t length = c.lengthCode;
        if (c.lengthCode == 126) length = (out[3] << 8) | out[4];
        if (c.lengthCode == 127) {
            length = 0;
            for (int i = 3; i < 11; ++i) length = (length << 8) | out[static_cast<std::size_t>(i)];
        }
        EXPECT_EQ(length, c.size);
        const std::size_t k = 1 + c.headerSize - 4;
        EXPECT_EQ(Bytes(out.begin() + k, out.begin() + k + 4), Bytes(key.begin(), key.end()));
        for (std::size_t i = 0; i < c.size; ++i) ASSERT_EQ(out[k + 4 + i] ^ key[i % 4], payload[i]) << i;
    }
    EXPECT_NE(BWRandomMaskKey(), BWRandomMaskKey());  // 2^-32 to fail by chance
}

// ICU's one-shot answer.
bool icuValid(const Bytes& b) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, reinterpret_cast<const char*>(b.data()), static_cast<int32_t>(b.size()), &status);
    return status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status) || (status == U_STRING_NOT_TERMINATED_WARNING);
}

// Validates the way the reader does: each piece from the first unchecked byte.
bool validInPieces(const Bytes& text, std::size_t cut) {
    std::size_t scanned = 0;
    for (std::size_t end : {cut, text.size()}) {
        auto r = BWValidatePartialUTF8(std::span(text).subspan(scanned, end - scanned));
        if (r < 0) return false;
        scanned += static_cast<std::size_t>(r);
    }
    return scanned == text.size();
}

TEST(BWUTF8, AgreesWithICUWhereverTheTextIsCut) {
    using namespace std::string_literals;
    const std::vector<std::string> samples{
        "plain ascii"s, "h\xC3\xA9llo"s, "\xE2\x82\xAC euro"s, "\xF0\x9F\x98\x80 emoji"s, "a\0\xE4\xB8\xAD after NUL"s,
        "\xE4\xB8\xAD\xE6\x96\x87"s,
        // Invalid: overlong, surrogate, above U+10FFFF, lone trail, bad lead, truncated in the middle.
        "\xC0\xAF"s, "\xE0\x80\xAF"s, "\xED\xA0\x80"s, "\xF4\x90\x80\x80"s, "a\x80z"s, "\xFE"s, "\xE2\x82z"s, "\xF0\x9F\x98"s};
    for (const auto& s : samples) {
        const Bytes text = bytesOf(s);
        const bool expected = icuValid(text);
        EXPECT_EQ(BWIsValidUTF8(text), expected) << s;
        for (std::size_t cut = 0; cut <= text.size(); ++cut)
            EXPECT_EQ(validInPieces(text, cut), expected) << s << " cut at " << cut;
    }
    // A valid piece that ends inside a character stops before it.
    EXPECT_EQ(BWValidatePartialUTF8(bytesOf("ab\xF0\x9F")), 2);
    // A prefix that can never become a character is refused at once.
    EXPECT_EQ(BWValidatePartialUTF8(bytesOf("ab\xE0\x80")), -1);
}

// Every lead byte with every second byte, and third and fourth bytes at the
// edges of the trail range, after an ASCII prefix: the same verdict as ICU,
// whole and cut anywhere.
TEST(BWUTF8, AgreesWithICUOnEverySequenceShape) {
    const std::uint8_t edges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    int disagreements = 0;
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int second = 0; second <= 0xFF; ++second) {
            for (std::uint8_t third : edges) {
                for (std::uint8_t fourth : edges) {
                    const Bytes text{'a', static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(second), third,
                                     fourth};
                    const bool expected = icuValid(text);
                    if (BWIsValidUTF8(text) != expected && ++disagreements < 10)
                        ADD_FAILURE() << "whole " << hex(text) << " expected " << expected;
                    for (std::size_t cut = 1; cut < text.size(); ++cut)
                        if (validInPieces(text, cut) != expected && ++disagreements < 10)
                            ADD_FAILURE() << hex(text) << " cut at " << cut << " expected " << expected;
                }
            }
        }
    }
    EXPECT_EQ(disagreements, 0);
}

}  // namespace
}  // namespace pellix
