#include <doctest/doctest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "recognize/clustering.hpp"
#include "recognize/hit_record.hpp"
#include "recognize/hit_selection.hpp"

namespace corvanta {
namespace {

bool same_span(const Candidate& a, const Candidate& b) {
  return a.byte_begin == b.byte_begin && a.byte_end == b.byte_end;
}

bool contains(const Candidate& outer, const Candidate& inner) {
  return outer.byte_begin <= inner.byte_begin && inner.byte_end <= outer.byte_end;
}

// keep_longest as stated: the candidates no candidate of another span
// contains, in their order.
std::vector<Candidate> naive_keep_longest(const std::vector<Candidate>& candidates) {
  std::vector<Candidate> kept;
  for (const Candidate& c : candidates) {
    const bool inside = std::any_of(
        candidates.begin(), candidates.end(),
        [&](const Candidate& other) { return !same_span(other, c) && contains(other, c); });
    if (!inside) kept.push_back(c);
  }
  return kept;
}

// Clusters follow the text without overlapping; within one, spans over a few
// word positions (nested, crossing and equal ones) in any order. Each
// candidate's row is its index, so any reordering shows.
std::vector<Candidate> random_candidates(std::mt19937& rng) {
  std::vector<Candidate> out;
  uint64_t cluster_start = 0;
  const int clusters = static_cast<int>(rng() % 5);
  for (int cluster = 0; cluster < clusters; ++cluster) {
    const uint64_t width = 1 + rng() % 8;
    const int count = 1 + static_cast<int>(rng() % 7);
    for (int i = 0; i < count; ++i) {
      const uint64_t begin = cluster_start + rng() % width;
      const uint64_t end = begin + 1 + rng() % (cluster_start + width - begin);
      out.push_back(Candidate{begin, end, RowId{static_cast<uint32_t>(out.size())},
                              static_cast<uint32_t>(cluster)});
    }
    cluster_start += width + rng() % 3;
  }
  return out;
}

bool equal_candidates(const std::vector<Candidate>& a, const std::vector<Candidate>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const Candidate& x, const Candidate& y) {
                      return same_span(x, y) && x.row == y.row && x.cluster == y.cluster;
                    });
}

TEST_CASE("keep_longest agrees with the naive filter on random candidate lists") {
  std::mt19937 rng(20250506);
  std::vector<Candidate> kept;
  for (int round = 0; round < 20000; ++round) {
    std::vector<Candidate> candidates = random_candidates(rng);
    const std::vector<Candidate> expected = naive_keep_longest(candidates);
    keep_longest(candidates, kept);
    REQUIRE(equal_candidates(candidates, expected));
  }
}

// Exact hits ordered and disjoint, then clustering hits with starts in any
// order and often equal to an exact hit's; rows number the hits in order.
HitList random_hits(std::mt19937& rng, size_t& exact_count) {
  HitList hits;
  uint64_t at = rng() % 3;
  exact_count = rng() % 6;
  for (size_t i = 0; i < exact_count; ++i) {
    const uint64_t end = at + 1 + rng() % 4;
    hits.push_back(HitRecord{RowId{static_cast<uint32_t>(hits.size())}, at, end, false});
    at = end + rng() % 3;
  }
  const size_t clustering = rng() % 12;
  for (size_t i = 0; i < clustering; ++i) {
    const uint64_t begin = rng() % (at + 2);
    hits.push_back(
        HitRecord{RowId{static_cast<uint32_t>(hits.size())}, begin, begin + 1 + rng() % 5, false});
  }
  return hits;
}

TEST_CASE("order_by_start agrees with a stable sort by start") {
  std::mt19937 rng(118);
  HitList merge;
  for (int round = 0; round < 20000; ++round) {
    size_t exact_count = 0;
    HitList hits = random_hits(rng, exact_count);
    HitList expected = hits;
    std::stable_sort(expected.begin(), expected.end(), [](const HitRecord& a, const HitRecord& b) {
      return a.byte_begin < b.byte_begin;
    });
    order_by_start(hits, exact_count, merge);
    REQUIRE(std::equal(hits.begin(), hits.end(), expected.begin(), expected.end(),
                       [](const HitRecord& a, const HitRecord& b) {
                         return a.row == b.row && a.byte_begin == b.byte_begin &&
                                a.byte_end == b.byte_end;
                       }));
  }
}

}  // namespace
}  // namespace corvanta
