// The record that recognition produces for one concept occurrence.
//
// A hit names its label-table row instead of copying the row's texts: the
// term id and the label of a hit are exactly those of the row that produced
// it, and the rows outlive every recognition call. The Python boundary copies
// both texts into the Hit object it creates.
#pragma once

#include <cstdint>
#include <vector>

#include "base/ids.hpp"

namespace corvanta {

struct HitRecord {
  RowId row;                // label-table row: term id and label
  uint64_t byte_begin = 0;  // span in the UTF-8 lower-cased text, half-open
  uint64_t byte_end = 0;
  bool excluded = false;  // set by negation only
};

using HitList = std::vector<HitRecord>;

}  // namespace corvanta
