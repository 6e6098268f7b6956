#include <doctest/doctest.h>

#include <array>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/string_map.hpp"

namespace corvanta::detail {
namespace {

// Keys from a small alphabet with a NUL byte, of lengths around the 16
// bytes held inline: many share their first 16 bytes or differ only in
// length or in trailing NULs, the cases an inline head must tell apart.
std::string random_key(std::mt19937& rng) {
  static constexpr char kAlphabet[] = {'a', 'b', '\0', 'z'};
  const size_t length = std::uniform_int_distribution<size_t>(0, 40)(rng);
  const std::string shared_head = "abababababababab";
  std::string key = length > 16 && rng() % 2 ? shared_head : std::string();
  while (key.size() < length) key += kAlphabet[rng() % 4];
  return key;
}

TEST_CASE("the map agrees with std::unordered_map through inserts, growth and clears") {
  std::mt19937 rng(18);
  StringMap map;
  std::unordered_map<std::string, uint32_t> expected;
  for (int step = 0; step < 60000; ++step) {
    const std::string key = random_key(rng);
    switch (rng() % 50) {
      case 0:
        map.clear();
        expected.clear();
        break;
      case 1:
      case 2:
      case 3:
      case 4:
      case 5:
      case 6:
      case 7:
      case 8:
      case 9:
      case 10: {
        const auto value = static_cast<uint32_t>(rng() % 1000);
        const auto [it, added] = expected.emplace(key, value);
        REQUIRE(map.insert(key, value) == it->second);
        break;
      }
      default: {
        const auto it = expected.find(key);
        REQUIRE(map.find(key) == (it == expected.end() ? StringMap::kMissing : it->second));
      }
    }
    REQUIRE(map.size() == expected.size());
  }
  map.debug_check_invariants();
}

TEST_CASE("a key built from loaded bytes equals the key built from the text") {
  const std::string text = "short words and considerably longer ones, abcdefghijklmnopqrstuvwxyz";
  for (size_t begin = 0; begin + 16 <= text.size(); ++begin) {
    for (size_t length = 0; begin + length <= text.size() && length <= 40; ++length) {
      const std::string_view word = std::string_view(text).substr(begin, length);
      const MapKey loaded = map_key_padded(word, bytes16_at(text, begin));
      const MapKey copied = map_key(word);
      CAPTURE(word);
      CHECK(loaded.head[0] == copied.head[0]);
      CHECK(loaded.head[1] == copied.head[1]);
      CHECK(loaded.hash == copied.hash);
    }
  }
}

// Bit k is set when byte k of `bytes` is an ASCII letter or digit.
unsigned ascii_alnum_mask_bytewise(const uint8_t* bytes) {
  unsigned mask = 0;
  for (unsigned k = 0; k < 16; ++k) {
    const uint8_t c = bytes[k];
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    mask |= static_cast<unsigned>(alnum) << k;
  }
  return mask;
}

TEST_CASE("the letter-and-digit mask of a block agrees with the byte loop") {
  std::array<uint8_t, 16> bytes{};
  for (unsigned c = 0; c < 256; ++c) {
    for (unsigned at = 0; at < 16; ++at) {
      bytes.fill(static_cast<uint8_t>('a' + at));
      bytes[at] = static_cast<uint8_t>(c);
      const Bytes16 block =
          bytes16_at(std::string_view(reinterpret_cast<const char*>(bytes.data()), 16), 0);
      CAPTURE(c);
      CAPTURE(at);
      CHECK(ascii_alnum_mask(block) == ascii_alnum_mask_bytewise(bytes.data()));
    }
  }
}

}  // namespace
}  // namespace corvanta::detail
