// The id types of recognition. Each is a 32-bit index into one table, kept
// apart by type so that an index of one table cannot be passed where another
// is meant:
//   RowId      a label-table row: term id and surface text of a hit
//   PatternId  an automaton pattern; pattern i is the lower-cased surface of
//              row i (row_of_pattern says so in one place)
//   StemId     a stem of the concept index's vocabulary, numbered in byte
//              order of the stem texts
// The automaton's state ids are private to it (aho_corasick.cpp).
//
// "Not found" is never an id value: lookups return std::optional.
#pragma once

#include <compare>
#include <cstdint>

namespace corvanta {

template <class Tag>
struct Id {
  uint32_t v = 0;
  friend constexpr auto operator<=>(Id, Id) = default;
};

using RowId = Id<struct RowTag>;
using PatternId = Id<struct PatternTag>;
using StemId = Id<struct StemTag>;

constexpr RowId row_of_pattern(PatternId pattern) noexcept { return RowId{pattern.v}; }

}  // namespace corvanta
