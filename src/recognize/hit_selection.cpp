// Which clustering candidates a recognition keeps, and the order of its hits.
#include "recognize/hit_selection.hpp"

#include <algorithm>
#include <cstddef>

namespace corvanta {

// Keeps the candidates that no other candidate of the list contains, in the
// order that the kept list takes when candidates are added one by one: a new
// candidate inside a kept one is dropped, kept ones inside a new one are
// removed, equal spans stay side by side. Candidates of different clusters
// never overlap, so each cluster is filtered on its own.
void keep_longest(std::vector<Candidate>& candidates, std::vector<Candidate>& kept) {
  kept.clear();
  size_t cluster_begin = 0;
  for (const Candidate& c : candidates) {
    if (!kept.empty() && kept.back().cluster != c.cluster) cluster_begin = kept.size();
    bool dropped = false;
    bool any_marked = false;
    for (size_t k = cluster_begin; k < kept.size(); ++k) {
      const Candidate& other = kept[k];
      if (other.byte_begin == c.byte_begin && other.byte_end == c.byte_end) continue;
      if (other.byte_begin <= c.byte_begin && c.byte_end <= other.byte_end) {
        dropped = true;
        break;
      }
      any_marked |= c.byte_begin <= other.byte_begin && other.byte_end <= c.byte_end;
    }
    if (dropped) continue;
    if (any_marked) {
      auto first = kept.begin() + static_cast<ptrdiff_t>(cluster_begin);
      kept.erase(std::remove_if(
                     first, kept.end(),
                     [&](const Candidate& other) {
                       return !(other.byte_begin == c.byte_begin && other.byte_end == c.byte_end) &&
                              c.byte_begin <= other.byte_begin && other.byte_end <= c.byte_end;
                     }),
                 kept.end());
    }
    kept.push_back(c);
  }
  candidates.swap(kept);
}

// Orders `hits` by start, stably, where hits[0, exact_count) are the exact
// hits (ordered and disjoint) and the rest the clustering hits in emission
// order. Emission order is by cluster, clusters follow the text and never
// overlap, so the clustering hits are out of order only within a cluster (at
// most the whole cluster and 209 windows): an insertion sort moves each one
// a short way, then one merge from the back interleaves the two runs. Unlike
// std::stable_sort, which takes a temporary buffer on every call, this
// allocates only when `merge` must grow.
void order_by_start(HitList& hits, size_t exact_count, HitList& merge) {
  const auto starts_before = [](const HitRecord& a, const HitRecord& b) {
    return a.byte_begin < b.byte_begin;
  };
  merge.assign(hits.begin() + static_cast<ptrdiff_t>(exact_count), hits.end());
  for (size_t i = 1; i < merge.size(); ++i) {
    const HitRecord hit = merge[i];
    size_t j = i;
    for (; j > 0 && starts_before(hit, merge[j - 1]); --j) merge[j] = merge[j - 1];
    merge[j] = hit;
  }
  // On equal starts the exact hit stays first.
  size_t e = exact_count;
  size_t c = merge.size();
  for (size_t out = hits.size(); c > 0; --out) {
    if (e > 0 && starts_before(merge[c - 1], hits[e - 1])) {
      hits[out - 1] = hits[--e];
    } else {
      hits[out - 1] = merge[--c];
    }
  }
}

}  // namespace corvanta
