// BWUTF8: strict UTF-8 validation of text that arrives in pieces.
//
// A text message is checked as its bytes come in, each byte once: only the
// bytes of a character cut at the end of a piece are looked at again with
// the next piece. Strict means what the encoding form allows and nothing
// else: no overlong forms, no surrogates, nothing above U+10FFFF. NUL is an
// ordinary character (text may hold it, and a character cut after a NUL is
// still completed by the next piece).
//
// No state, no allocation; any thread.
#pragma once

#include <cstdint>
#include <span>

namespace pellix {

// How many leading bytes of `bytes` are whole, valid characters, or -1 when
// the bytes hold an invalid sequence (or are longer than 2,147,483,647).
// A valid piece that ends inside a character answers the offset where that
// character starts; its bytes are to be checked again, followed by more.
std::int32_t BWValidatePartialUTF8(std::span<const std::uint8_t> bytes);

// Whole text: true when every byte belongs to a valid, complete character.
bool BWIsValidUTF8(std::span<const std::uint8_t> bytes);

}  // namespace pellix
