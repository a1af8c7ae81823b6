#pragma once
// Checks for the fuzz targets. A failed check prints what failed and aborts,
// which libFuzzer reports as a finding and keeps the input that caused it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/text/text.h"

#define FUZZ_CHECK(condition)                                             \
  do {                                                                    \
    if (!(condition)) ::dazi::fuzz::Fail(#condition, __FILE__, __LINE__); \
  } while (false)

namespace dazi::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

// Reads the input front to back; past its end every value is zero.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool Flag() { return (Byte() & 1) != 0; }
  int32_t Int32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | Byte();
    return static_cast<int32_t>(value);
  }
  // The next text: up to the next separator byte 0xFF (which is dropped), or
  // the rest of the input.
  std::string_view Text() {
    const auto* start = reinterpret_cast<const char*>(data_ + pos_);
    size_t length = 0;
    while (pos_ + length < size_ && data_[pos_ + length] != 0xFF) ++length;
    pos_ = pos_ + length < size_ ? pos_ + length + 1 : size_;
    return std::string_view(start, length);
  }
  std::string_view Rest() {
    std::string_view rest(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
    pos_ = size_;
    return rest;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A lead-byte set made of 32 input bytes, one bit per byte value. With
// highOnly, only values of 0x80 and above can be lead bytes, as in every real
// double-byte code page; otherwise any value can.
inline TextLocale LeadByteLocale(Input& input, bool highOnly) {
  TextLocale locale;
  locale.doubleByteMode = input.Flag();
  for (int group = 0; group < 32; ++group) {
    const uint8_t bits = input.Byte();
    for (int bit = 0; bit < 8; ++bit) {
      const int value = group * 8 + bit;
      locale.leadByteSet[value] = (bits >> bit & 1) != 0 && (!highOnly || value >= 0x80);
    }
  }
  return locale;
}

// Maps every byte of text onto a small alphabet, so that the characters that
// matter to a parser come up often.
inline std::string OverAlphabet(std::string_view text, std::string_view alphabet) {
  std::string mapped;
  for (char c : text) mapped += alphabet[static_cast<unsigned char>(c) % alphabet.size()];
  return mapped;
}

}  // namespace dazi::fuzz
