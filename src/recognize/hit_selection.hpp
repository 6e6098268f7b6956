// Hit selection: the longest-only filter over clustering candidates and the
// stable ordering of a recognition's hits by start.
#pragma once

#include <cstddef>
#include <vector>

#include "recognize/clustering.hpp"
#include "recognize/hit_record.hpp"

namespace corvanta {

// Keeps the candidates that no other candidate of the list contains (see the
// definition for the order); `kept` is scratch space, swapped in.
void keep_longest(std::vector<Candidate>& candidates, std::vector<Candidate>& kept);

// Orders `hits` by start, stably, where hits[0, exact_count) are the exact
// hits (ordered and disjoint) and the rest the clustering hits, out of order
// only within a cluster; `merge` is scratch space.
void order_by_start(HitList& hits, size_t exact_count, HitList& merge);

}  // namespace corvanta
