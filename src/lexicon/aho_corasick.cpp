// Leftmost-longest Aho-Corasick automaton: design notes.
//
// find(text, from) answers: of the matches starting at or after `from`, the
// one starting earliest, the longest there, the lowest pattern id among
// equal patterns. Callers iterate by searching again from the previous end.
//
// Build.
// 1. Sort the non-empty patterns by bytes (ties by id): a most-significant-
//    digit radix sort on 8-byte digits.
// 2. Insert them in that order. Each pattern shares exactly the previous
//    one's path up to their common prefix, so no child is ever looked up.
//    Node ids come out in preorder: a node's first child is the next id and
//    siblings are linked in byte order. Equal patterns end at one node, which
//    keeps the lowest id.
// 3. Byte classes: each byte that labels an edge is a class of its own, all
//    other bytes share class 0 (the HPO labels use 58 bytes: 59 classes).
// 4. Failure links, breadth first, with the leftmost rule: a node where a
//    pattern ends fails to dead, and so does everything below it, so once
//    the search has recorded a match it can only extend it or stop; it never
//    falls back to a match starting further right. A node without a pattern
//    of its own takes its failure target's pattern. That copy is required:
//    with "abcd" and "bc", the text "abcx" walks a, ab, abc and fails on x to
//    "bc", whose own failure is dead; unless "abc" carries "bc", the match at
//    1 is lost (a test pins this). One id per node is enough: the first
//    pattern on the failure chain is the longest suffix, hence the leftmost.
// 5. Compile into one uint32_t array and free the trie.
//
// Layout. A state's id is its word offset. Ids come in groups: dense without
// a match (the start state is id 0), dead, dense with a match, sparse with a
// match, sparse without. So "dense" is `sid < dense_end_` and "dead or
// match" is `sid - dead_ <= special_span_`: one comparison each, on a
// register, no load. A match state's pattern id is the word before it.
// - Dense: one target per class and nothing else. Rows are complete: misses
//   are resolved through the failure links at build time, so the search
//   never follows a failure link out of a dense state. The start row's
//   misses loop to itself, dead's row to dead. States shallower than
//   kDenseDepth are dense, and so are states with more than kMaxSparse
//   transitions.
// - Sparse: a header word (number of transitions; for one transition also
//   its class, tested with one comparison), the failure id, then the targets
//   (keys first, four to a word, searched 16 at a time with SWAR when there
//   are several).
// Within a group ids follow preorder, so the chain of one-transition states
// that spells a pattern's tail is contiguous in memory.
//
// Search. Per byte: a class lookup, one dense row load or a sparse probe plus
// failure hops, then the special-range comparison. A match is remembered and
// the walk continues until dead or the end of the text; the next call
// rescans the bytes after the remembered end (5% of the corpus below).
//
// Measurements. benchmarks/bench_aho_corasick.cpp: 42,976 HP labels and
// synonyms (1.26 MB), 2,888 abstracts (3.57 MB); 2-vCPU Xeon VM, 2 MB L2,
// g++ 12 -O3; minimum of 15 runs on a shared machine (+-10%).
// - First version (breadth-first ids, rows with headers below depth 2, linear
//   key scan, string sort, child lookups along sibling lists while linking):
//   build 65 ms, 7.9 MB, scan 76 MB/s.
// - Preorder ids, 20-byte nodes linked in level order: build 45 ms; scan
//   unchanged (75 MB/s).
// - Match flag in the state header instead of the id range: 75 against
//   74 MB/s. Kept the range, which needs no load.
// - Headerless dense rows tested by id, SWAR key search: 87 MB/s.
// - Dense depth 2, 3, 4, 5, 6, 7: 87, 117, 149, 167, 177, 178 MB/s at 7.9,
//   8.0, 8.3, 9.0, 10.0, 11.3 MB. Deeper rows also shorten the failure walks
//   while linking (build 45 -> 38 ms at depth 5). Depth 5 takes most of the
//   gain for 1.1 MB.
// - Rows for all states below depth 3-4 and for branching states below 5-8:
//   the same speed per megabyte as the plain depth rule; not kept.
// - Pattern sort: string comparisons 5.4 ms, radix on 8-byte digits 3.7 ms,
//   digits read with one load 3.3 ms.
// - Linker prefetching 16 queue entries ahead: build 32.3 -> 29.7 ms.
// - No change: the key search out of line; filling a dense row by copying
//   its failure target's row.
// - Now: build 27.5 ms (sort 3.8, trie 4.2, links 11.3, ids 3.0, emit 3.9),
//   9.0 MB, scan 166 MB/s. The scan's main stall is the dense-row load: the
//   rows below depth 5 take 2.2 MB, about the size of L2.
// - Two searches at once (find_all, below), on a 2-vCPU EPYC VM with 1 MB of
//   L2 per core: scan 162-172 -> 185-201 MB/s, recognition
//   (bench_recognition, best of six alternating runs) 55.1 -> 49.5 ms.
//   Tried on that machine and not kept: classes numbered by frequency with
//   cache-line-aligned rows (the hot columns in one line): 3% at best;
//   dense depth 6 and 7 in recognition: no change; 2 MiB pages for the
//   state array: no change.
#include "lexicon/aho_corasick.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "base/debug_check.hpp"
#include "base/huge_pages.hpp"

namespace corvanta {
namespace {

// ---- Limits -------------------------------------------------------------

// Pattern ids are uint32_t, with kNoPattern reserved.
constexpr size_t kMaxPatterns = size_t{1} << 31;
// Trie node ids are uint32_t; a pattern set can need one node per byte.
constexpr size_t kMaxTrieNodes = size_t{1} << 31;
// State ids are offsets into one uint32_t array.
constexpr uint64_t kMaxWords = std::numeric_limits<uint32_t>::max();

// ---- Compiled layout ----------------------------------------------------

// States shallower than this get a full row, within kRowBudget.
constexpr uint32_t kDenseDepth = 5;
// Rows given by depth may take as many words as the patterns have bytes, or
// this many if that is more. Natural-language labels stay far below it (the
// HPO labels: 0.55 M words of rows for 1.26 MB); random binary patterns
// would otherwise have a row for nearly every state near the root.
constexpr uint64_t kMinRowBudget = uint64_t{1} << 20;
// Deeper states with more transitions than this get a full row too; sparse
// keys are searched 16 at a time.
constexpr uint32_t kMaxSparse = 16;

constexpr uint32_t kKindMask = 0xFF;
constexpr uint32_t kNoPattern = std::numeric_limits<uint32_t>::max();
// Key bytes are read 16 at a time, possibly past the last record.
constexpr uint32_t kPadWords = 4;

constexpr uint32_t key_words(uint32_t n) { return (n + 3) / 4; }

struct Layout {
  const uint32_t* st;
  uint32_t dense_end;  // ids below it are dense rows
};

constexpr uint64_t kByteOnes = 0x0101010101010101;

// Bit 7 of every byte of `x` that is zero; exact up to the lowest one.
constexpr uint64_t zero_bytes(uint64_t x) { return (x - kByteOnes) & ~x & (kByteOnes << 7); }

// Position of `cls` among the first `n` (at most 16) key bytes, or -1.
[[gnu::always_inline]] inline int find_key(const uint32_t* keys, uint32_t n, uint32_t cls) {
  uint64_t lo;
  uint64_t hi;
  std::memcpy(&lo, keys, 8);
  std::memcpy(&hi, keys + 2, 8);
  if constexpr (std::endian::native == std::endian::big) {
    lo = __builtin_bswap64(lo);
    hi = __builtin_bswap64(hi);
  }
  const uint64_t spread = uint64_t{cls} * kByteOnes;
  const uint64_t lo_mask = n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
  const uint64_t hi_mask = n <= 8 ? 0 : n >= 16 ? ~uint64_t{0} : (uint64_t{1} << (8 * (n - 8))) - 1;
  const uint64_t lo_hits = zero_bytes(lo ^ spread) & lo_mask;
  const uint64_t hi_hits = zero_bytes(hi ^ spread) & hi_mask;
  if (lo_hits != 0) return __builtin_ctzll(lo_hits) >> 3;
  if (hi_hits != 0) return 8 + (__builtin_ctzll(hi_hits) >> 3);
  return -1;
}

// One transition out of state `sid` on class `cls`, following failure links
// until some state answers. Every chain ends in a dense state (the start
// state or dead), whose rows are complete.
[[gnu::always_inline]] inline uint32_t next_state(Layout l, uint32_t sid, uint32_t cls) noexcept {
  for (;;) {
    if (sid < l.dense_end) return l.st[sid + cls];
    const uint32_t header = l.st[sid];
    if (header == (cls << 8 | 1)) return l.st[sid + 2];
    const uint32_t kind = header & kKindMask;
    if (kind > 1) {
      const int at = find_key(l.st + sid + 2, kind, cls);
      if (at >= 0) return l.st[sid + 2 + key_words(kind) + static_cast<uint32_t>(at)];
    }
    sid = l.st[sid + 1];
  }
}

// ---- Trie ---------------------------------------------------------------

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kDeadNode = 0;
constexpr uint32_t kRootNode = 1;

struct Node {
  uint32_t next_sibling = kNone;
  uint32_t fail = kDeadNode;
  // Before linking, the pattern ending here (lowest id among equals); after,
  // the pattern reported on entering the node.
  uint32_t match = kNone;
  uint32_t row = kNone;  // index of the node's full row, if it compiles dense
  uint16_t child_count = 0;
  uint8_t byte = 0;  // label of the edge from the parent
};

// Nodes are created in sorted pattern order, which is depth-first preorder:
// a node with children has its first child at the next id, and siblings are
// linked in byte order.
struct Trie {
  std::vector<Node> nodes;
  std::array<bool, 256> byte_used{};
  std::array<uint64_t, kDenseDepth> nodes_at_depth{};  // of the shallow levels

  uint32_t add_child(uint32_t parent, uint8_t b) {
    const auto id = static_cast<uint32_t>(nodes.size());
    nodes.push_back(Node{.byte = b});
    ++nodes[parent].child_count;
    byte_used[b] = true;
    return id;
  }
};

// The ids of the non-empty patterns in byte order, equal patterns by id.
// A most-significant-digit sort with 8-byte digits: each round sorts plain
// integer keys and reads every pattern of a tied run once, instead of
// comparing strings (labels share long prefixes such as "abnormality of").
struct SortKey {
  uint64_t digit;  // the 8 bytes at the current offset, big-endian, zero-padded
  uint32_t rest;   // bytes left from the offset, capped at 9 (more than a digit)
  uint32_t id;
};

// Up to 8 bytes as a big-endian integer, zero-padded: integer order is then
// byte order.
uint64_t big_endian_digit(const char* bytes, size_t available) {
  uint64_t digit = 0;
  if (available >= 8) {
    std::memcpy(&digit, bytes, 8);
    if constexpr (std::endian::native == std::endian::little) digit = __builtin_bswap64(digit);
    return digit;
  }
  for (size_t b = 0; b < 8; ++b) {
    digit = digit << 8 | (b < available ? static_cast<uint8_t>(bytes[b]) : 0);
  }
  return digit;
}

// Runs at least this long are sorted by radix, shorter ones by comparison.
constexpr size_t kRadixMin = 256;

// Stable least-significant-digit radix sort by (digit, rest), one byte per
// pass; passes where every key has the same byte are skipped.
void radix_sort(SortKey* keys, size_t n, std::vector<SortKey>& scratch) {
  scratch.resize(n);
  SortKey* from = keys;
  SortKey* to = scratch.data();
  for (int pass = -1; pass < 8; ++pass) {
    const auto byte_of = [pass](const SortKey& k) {
      return pass < 0 ? k.rest : static_cast<uint32_t>(k.digit >> (8 * pass)) & 0xFF;
    };
    std::array<size_t, 256> count{};
    for (size_t i = 0; i < n; ++i) ++count[byte_of(from[i])];
    if (count[byte_of(from[0])] == n) continue;
    size_t sum = 0;
    for (size_t& c : count) sum += std::exchange(c, sum);
    for (size_t i = 0; i < n; ++i) to[count[byte_of(from[i])]++] = from[i];
    std::swap(from, to);
  }
  if (from != keys) std::copy_n(from, n, keys);
}

std::vector<uint32_t> sorted_patterns(std::span<const std::string_view> patterns) {
  constexpr uint32_t kMore = 9;
  const auto by_digit = [](const SortKey& a, const SortKey& b) {
    if (a.digit != b.digit) return a.digit < b.digit;
    if (a.rest != b.rest) return a.rest < b.rest;
    return a.id < b.id;
  };
  std::vector<SortKey> keys;
  std::vector<SortKey> scratch;
  keys.reserve(patterns.size());
  for (size_t i = 0; i < patterns.size(); ++i) {
    if (!patterns[i].empty()) keys.push_back({0, 0, static_cast<uint32_t>(i)});
  }
  struct Run {
    size_t begin;
    size_t end;
    size_t offset;
  };
  std::vector<Run> runs{{0, keys.size(), 0}};
  while (!runs.empty()) {
    const Run run = runs.back();
    runs.pop_back();
    for (size_t i = run.begin; i < run.end; ++i) {
      const std::string_view p = patterns[keys[i].id];
      const size_t left = p.size() - run.offset;
      keys[i].digit = big_endian_digit(p.data() + run.offset, left);
      keys[i].rest = static_cast<uint32_t>(std::min<size_t>(left, kMore));
    }
    if (run.end - run.begin >= kRadixMin) {
      radix_sort(keys.data() + run.begin, run.end - run.begin, scratch);
    } else {
      std::sort(keys.begin() + run.begin, keys.begin() + run.end, by_digit);
    }
    for (size_t i = run.begin; i < run.end;) {
      size_t j = i + 1;
      while (j < run.end && keys[j].digit == keys[i].digit && keys[j].rest == keys[i].rest) ++j;
      if (j - i > 1 && keys[i].rest == kMore) runs.push_back({i, j, run.offset + 8});
      i = j;
    }
  }
  std::vector<uint32_t> order(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].id;
  return order;
}

// Sorted insertion: each pattern shares exactly the previous one's path up
// to their common prefix, so no child is ever looked up, and one pattern's
// new nodes are contiguous.
Trie build_trie(std::span<const std::string_view> patterns, size_t total_bytes) {
  Trie trie;
  trie.nodes.reserve(total_bytes + 2);
  // The trie takes about 12 MB for a release and lives only through the
  // build: 2 MiB pages took the automaton step from 32-60 to 32-46 ms
  // (three interleaved best-of-5 runs, bench_construction) and the minor
  // faults of two constructions from 25.3k to 19.1k.
  detail::advise_huge_pages(trie.nodes.data(), trie.nodes.capacity() * sizeof(Node));
  trie.nodes.emplace_back();  // dead
  trie.nodes.emplace_back();  // root
  trie.nodes_at_depth[0] = 1;

  const std::vector<uint32_t> order = sorted_patterns(patterns);
  std::vector<uint32_t> path{kRootNode};  // path[d]: node of the previous pattern's d-byte prefix
  std::string_view prev;
  for (const uint32_t id : order) {
    const std::string_view p = patterns[id];
    const size_t lcp = static_cast<size_t>(
        std::mismatch(prev.begin(), prev.end(), p.begin(), p.end()).first - prev.begin());
    const uint32_t left_sibling = lcp + 1 < path.size() ? path[lcp + 1] : kNone;
    path.resize(lcp + 1);
    for (size_t d = lcp; d < p.size(); ++d) {
      const uint32_t node = trie.add_child(path[d], static_cast<uint8_t>(p[d]));
      if (d + 1 < kDenseDepth) ++trie.nodes_at_depth[d + 1];
      if (d == lcp && left_sibling != kNone) trie.nodes[left_sibling].next_sibling = node;
      path.push_back(node);
    }
    uint32_t& terminal = trie.nodes[path[p.size()]].match;
    if (terminal == kNone) terminal = id;
    prev = p;
  }
  return trie;
}

// ---- Byte classes -------------------------------------------------------

// Every byte that labels some trie edge gets a class of its own; all other
// bytes share class 0, whose column holds only failures.
struct ByteClasses {
  std::array<uint8_t, 256> of{};
  uint32_t count = 0;
};

ByteClasses make_classes(const std::array<bool, 256>& used) {
  ByteClasses classes;
  const bool all_used = std::all_of(used.begin(), used.end(), [](bool u) { return u; });
  uint32_t next = all_used ? 0 : 1;
  for (size_t b = 0; b < 256; ++b) {
    if (used[b]) classes.of[b] = static_cast<uint8_t>(next++);
  }
  classes.count = next;
  return classes;
}

// ---- Failure links ------------------------------------------------------

// Complete rows (every class answered, failures resolved) of the nodes that
// compile to dense states, and of dead (row 0).
struct Rows {
  std::vector<uint32_t> cells;
  uint32_t width = 0;

  [[nodiscard]] const uint32_t* row(uint32_t index) const {
    return cells.data() + size_t{index} * width;
  }
};

// How many queue entries ahead the linker prefetches nodes.
constexpr size_t kPrefetchDistance = 16;

class Linker {
 public:
  Linker(Trie& trie, const ByteClasses& classes, uint32_t dense_depth)
      : nodes_(trie.nodes), classes_(classes), dense_depth_(dense_depth) {}

  // Leftmost failure links, breadth first (failure targets are always
  // shallower). A node where a pattern ends fails to dead: after a match the
  // search extends it or stops, and never falls back to a match starting
  // further right. A node without a pattern of its own reports the pattern
  // of its failure target: the longest pattern ending there, found before
  // the failure chain drops below a match.
  Rows link() {
    rows_.width = classes_.count;
    rows_.cells.assign(rows_.width, kDeadNode);
    nodes_[kDeadNode].row = 0;
    nodes_[kDeadNode].fail = kDeadNode;
    nodes_[kRootNode].fail = kDeadNode;
    add_row(kRootNode);

    std::vector<uint32_t> queue;
    queue.reserve(nodes_.size() - 1);
    queue.push_back(kRootNode);
    uint32_t child_depth = 1;
    for (size_t head = 0, level_end = 1; head < queue.size(); ++head) {
      if (head == level_end) {
        ++child_depth;
        level_end = queue.size();
      }
      if (head + kPrefetchDistance < queue.size()) {
        const uint32_t ahead = queue[head + kPrefetchDistance];
        __builtin_prefetch(nodes_.data() + ahead);
        __builtin_prefetch(nodes_.data() + ahead + 1);
      }
      if (head + kPrefetchDistance / 2 < queue.size()) {
        __builtin_prefetch(nodes_.data() + nodes_[queue[head + kPrefetchDistance / 2]].fail);
      }
      const uint32_t parent = queue[head];
      uint32_t c = parent + 1;
      for (uint32_t k = nodes_[parent].child_count; k > 0; --k, c = nodes_[c].next_sibling) {
        queue.push_back(c);
        Node& node = nodes_[c];
        if (node.match == kNone) {
          node.fail =
              parent == kRootNode ? kRootNode : step(nodes_[parent].fail, classes_.of[node.byte]);
          node.match = nodes_[node.fail].match;
        } else {
          node.fail = kDeadNode;
        }
        if (child_depth < dense_depth_ || node.child_count > kMaxSparse) add_row(c);
      }
    }
    return std::move(rows_);
  }

 private:
  // The node reached from `node` on class `cls`, following failure links.
  [[nodiscard]] uint32_t step(uint32_t node, uint32_t cls) const {
    for (;;) {
      const Node& nd = nodes_[node];
      if (nd.row != kNone) return rows_.cells[size_t{nd.row} * rows_.width + cls];
      uint32_t c = node + 1;
      for (uint32_t k = nd.child_count; k > 0; --k, c = nodes_[c].next_sibling) {
        if (classes_.of[nodes_[c].byte] == cls) return c;
      }
      node = nd.fail;
    }
  }

  void add_row(uint32_t v) {
    const size_t begin = rows_.cells.size();
    rows_.cells.resize(begin + rows_.width);
    for (uint32_t cls = 0; cls < rows_.width; ++cls) {
      rows_.cells[begin + cls] = v == kRootNode ? kRootNode : step(nodes_[v].fail, cls);
    }
    uint32_t c = v + 1;
    for (uint32_t k = nodes_[v].child_count; k > 0; --k, c = nodes_[c].next_sibling) {
      rows_.cells[begin + classes_.of[nodes_[c].byte]] = c;
    }
    nodes_[v].row = static_cast<uint32_t>(begin / rows_.width);
  }

  std::vector<Node>& nodes_;
  const ByteClasses& classes_;
  const uint32_t dense_depth_;
  Rows rows_;
};

// The depth above which every state gets a full row: kDenseDepth, or less
// when the rows would exceed the budget.
uint32_t dense_depth(const Trie& trie, uint32_t width, size_t total_bytes) {
  const uint64_t budget = std::max<uint64_t>(total_bytes, kMinRowBudget);
  uint64_t words = 0;
  for (uint32_t d = 0; d < kDenseDepth; ++d) {
    words += trie.nodes_at_depth[d] * width;
    if (words > budget) return std::max<uint32_t>(d, 1);
  }
  return kDenseDepth;
}

// ---- Compilation --------------------------------------------------------

// Ids are offsets into the state array, in four groups: dense rows without a
// match, dense rows with one (dead first), sparse records with a match, and
// sparse records without. "Dense" and "dead or match" are then each one
// comparison on the id. A match state's pattern id sits in the word before
// it. Within a group, ids follow the trie's preorder, so the chain of
// one-transition states that spells out a pattern's tail is contiguous.
struct StateIds {
  std::vector<uint32_t> of_node;
  uint64_t words = 0;  // array length, padding included
  uint32_t dense_end = 0;
  uint32_t dead = 0;
  uint32_t max_special = 0;
};

enum Group : uint8_t { kDensePlain, kDenseMatch, kSparseMatch, kSparsePlain, kGroups };

Group group_of(const Node& node) {
  const bool match = node.match != kNone;
  if (node.row != kNone) return match ? kDenseMatch : kDensePlain;
  return match ? kSparseMatch : kSparsePlain;
}

// Words of a state's record, its pattern id word included.
uint64_t record_words(const Node& node, uint32_t width) {
  const uint32_t k = node.child_count;
  const uint64_t prefix = node.match != kNone ? 1 : 0;
  if (node.row != kNone) return prefix + width;
  if (k <= 1) return prefix + 2 + k;
  return prefix + 2 + key_words(k) + k;
}

StateIds assign_ids(const std::vector<Node>& nodes, uint32_t width) {
  const auto n = static_cast<uint32_t>(nodes.size());
  std::array<uint64_t, kGroups + 1> start{};
  start[kDenseMatch + 1] = width;  // dead
  for (uint32_t v = kRootNode; v < n; ++v) {
    start[group_of(nodes[v]) + 1] += record_words(nodes[v], width);
  }
  for (size_t g = 1; g <= kGroups; ++g) start[g] += start[g - 1];

  StateIds ids;
  ids.words = start[kGroups] + kPadWords;
  if (ids.words > kMaxWords) return ids;
  ids.of_node.assign(n, 0);
  ids.dense_end = static_cast<uint32_t>(start[kSparseMatch]);
  ids.dead = static_cast<uint32_t>(start[kDenseMatch]);
  ids.max_special = ids.dead;
  ids.of_node[kDeadNode] = ids.dead;
  start[kDenseMatch] += width;
  for (uint32_t v = kRootNode; v < n; ++v) {
    const Node& node = nodes[v];
    uint64_t& at = start[group_of(node)];
    const bool match = node.match != kNone;
    ids.of_node[v] = static_cast<uint32_t>(at + (match ? 1 : 0));
    if (match) ids.max_special = std::max(ids.max_special, ids.of_node[v]);
    at += record_words(node, width);
  }
  return ids;
}

// Writes every state's record. Dense: the row, one target per class.
// Sparse: a header (the number of transitions k, and for k = 1 the class in
// bits 8-15), the failure target, then for k = 1 the target, for k > 1 the
// k class bytes packed four to a word followed by the k targets.
void emit(const Trie& trie, const Rows& rows, const ByteClasses& classes, const StateIds& ids,
          uint32_t* st) {
  const std::vector<Node>& nodes = trie.nodes;
  const std::vector<uint32_t>& id = ids.of_node;
  std::fill_n(st + ids.dead, classes.count, ids.dead);
  for (uint32_t v = kRootNode; v < nodes.size(); ++v) {
    const Node& node = nodes[v];
    const uint32_t sid = id[v];
    if (node.match != kNone) st[sid - 1] = node.match;
    if (node.row != kNone) {
      const uint32_t* row = rows.row(node.row);
      for (uint32_t cls = 0; cls < classes.count; ++cls) st[sid + cls] = id[row[cls]];
      continue;
    }
    const uint32_t k = node.child_count;
    st[sid + 1] = id[node.fail];
    if (k == 1) {
      st[sid] = 1 | (uint32_t{classes.of[nodes[v + 1].byte]} << 8);
      st[sid + 2] = id[v + 1];
      continue;
    }
    st[sid] = k;
    auto* keys = reinterpret_cast<uint8_t*>(st + sid + 2);
    uint32_t* targets = st + sid + 2 + key_words(k);
    uint32_t c = v + 1;
    for (uint32_t i = 0; i < k; ++i, c = nodes[c].next_sibling) {
      keys[i] = classes.of[nodes[c].byte];
      targets[i] = id[c];
    }
  }
}

// The id layout the search relies on (checked in debug-check builds): the
// start state is id 0; a state is dense if and only if its node has a row,
// and dead or a match state if and only if its node is dead or reports a
// pattern, whose id is the word before the state.
void debug_check_layout(const std::vector<Node>& nodes, const StateIds& ids, const uint32_t* st) {
  if constexpr (!detail::kDebugChecks) return;
  CORVANTA_DCHECK(ids.of_node[kRootNode] == 0 && ids.dense_end > 0);
  for (uint32_t v = 0; v < nodes.size(); ++v) {
    const uint32_t sid = ids.of_node[v];
    const bool special = v == kDeadNode || nodes[v].match != kNone;
    CORVANTA_DCHECK((sid < ids.dense_end) == (nodes[v].row != kNone));
    CORVANTA_DCHECK((sid - ids.dead <= ids.max_special - ids.dead) == special);
    if (v != kDeadNode && special) CORVANTA_DCHECK(st[sid - 1] == nodes[v].match);
  }
}

[[gnu::cold]] Error capacity_error(std::string what, uint64_t size, uint64_t limit) {
  return Error{Errc::kMatcherBuild,
               "pattern set too large: " + std::move(what) + " " + std::to_string(size) +
                   ", the automaton's limit is " + std::to_string(limit),
               {}};
}

}  // namespace

Result<std::unique_ptr<const AhoCorasick>> AhoCorasick::build(
    std::span<const std::string_view> patterns) {
  if (patterns.size() > kMaxPatterns) {
    return capacity_error("pattern count", patterns.size(), kMaxPatterns);
  }
  size_t total_bytes = 0;
  for (const auto& p : patterns) total_bytes += p.size();
  if (total_bytes + 2 > kMaxTrieNodes) {
    return capacity_error("trie states", total_bytes + 2, kMaxTrieNodes);
  }

  Trie trie = build_trie(patterns, total_bytes);
  const ByteClasses classes = make_classes(trie.byte_used);
  const Rows rows = Linker(trie, classes, dense_depth(trie, classes.count, total_bytes)).link();
  const StateIds ids = assign_ids(trie.nodes, classes.count);
  if (ids.words > kMaxWords) return capacity_error("automaton words", ids.words, kMaxWords);

  std::unique_ptr<AhoCorasick> ac(new AhoCorasick());
  ac->states_.assign(ids.words, 0);
  emit(trie, rows, classes, ids, ac->states_.data());
  debug_check_layout(trie.nodes, ids, ac->states_.data());
  ac->byte_class_ = classes.of;
  ac->start_ = ids.of_node[kRootNode];
  ac->dense_end_ = ids.dense_end;
  ac->dead_ = ids.dead;
  ac->special_span_ = ids.max_special - ids.dead;
  ac->pattern_len_.resize(patterns.size());
  for (size_t i = 0; i < patterns.size(); ++i) {
    ac->pattern_len_[i] = static_cast<uint32_t>(patterns[i].size());
    ac->max_pattern_len_ = std::max(ac->max_pattern_len_, ac->pattern_len_[i]);
  }
  return std::unique_ptr<const AhoCorasick>(std::move(ac));
}

// ---- Searching -----------------------------------------------------------

namespace {

// One search in progress: find's loop, stepped from outside, so that
// find_all can run two of them at once.
struct Walk {
  size_t from;
  size_t at;  // the next byte to read
  uint32_t sid;
  uint32_t best;  // the pattern of the match so far, or kNoPattern
  size_t best_end;
};

}  // namespace

// The automaton over one text: what every step of a search reads.
struct detail::TextSearch {
  TextSearch(const AhoCorasick& ac, std::string_view text) noexcept
      : layout{ac.states_.data(), ac.dense_end_},
        cls(ac.byte_class_.data()),
        pattern_len(ac.pattern_len_.data()),
        bytes(reinterpret_cast<const uint8_t*>(text.data())),
        n(text.size()),
        start(ac.start_),
        dead(ac.dead_),
        special_span(ac.special_span_) {}

  // A search from `from`, which is before the end of the text.
  [[nodiscard]] Walk walk_from(size_t from) const noexcept {
    return Walk{from, from, start, kNoPattern, 0};
  }

  // Reads one byte; false when the search is over (dead, or the text ended).
  [[gnu::always_inline]] bool step(Walk& w) const noexcept {
    w.sid = next_state(layout, w.sid, cls[bytes[w.at]]);
    ++w.at;
    if (w.sid - dead <= special_span) [[unlikely]] {
      if (w.sid == dead) return false;
      w.best = layout.st[w.sid - 1];
      w.best_end = w.at;
    }
    return w.at < n;
  }

  [[nodiscard]] AcMatch match_of(const Walk& w) const noexcept {
    return AcMatch{PatternId{w.best}, w.best_end - pattern_len[w.best], w.best_end};
  }

  Layout layout;
  const uint8_t* cls;
  const uint32_t* pattern_len;
  const uint8_t* bytes;
  size_t n;
  uint32_t start;
  uint32_t dead;
  uint32_t special_span;
};

bool AhoCorasick::find(std::string_view text, size_t from, AcMatch& out) const noexcept {
  if (from >= text.size()) return false;
  const detail::TextSearch search(*this, text);
  Walk w = search.walk_from(from);
  while (search.step(w)) {
  }
  if (w.best == kNoPattern) return false;
  out = search.match_of(w);
  return true;
}

// ---- Every match of a text ----------------------------------------------
//
// The search is a chain of dependent loads (each state's row is read at the
// address the previous load gave), so one search leaves the processor
// waiting most of the time. find_all runs two searches at once, lane A from
// the start of the text and lane B from its middle h, one byte of each per
// step, and joins them. Let F(p) be find's answer from p.
// - Lane A stops at the first search whose match starts at h or later (or
//   that can no longer find one starting before h: no match yet, and more
//   than the longest pattern read past h). Its from-position p is then the
//   end of its last match starting before h, or 0.
// - If p <= h, no match starts in [p, h), so F(p) = F(h): lane B's matches
//   are the rest.
// - If p > h (A's last match straddles h): B's matches came from searches
//   started at q0 = h, q1, q2, ... (each the end of the match before). With
//   qk the last of them at or before p, B's next match F(qk) is F(p) when it
//   starts at p or later, and the rest of B's matches follow. Otherwise one
//   search is made from p and the test repeats from the end of its match.
// The result is the iteration of find from 0, whatever the text.

namespace {

// Texts shorter than this are searched in one lane.
constexpr size_t kTwoLaneMinBytes = 512;
// The limit of lane B, which takes every match to the end of the text.
constexpr size_t kNoLimit = std::numeric_limits<size_t>::max();

// After the search `w` of a lane ended: records its match when it starts
// before `limit` and starts the next search from the match's end. Returns
// false when the lane is over (no match, one at or past `limit`, or the end
// of the text), leaving in `resume` where the iteration goes on from: the
// end of the last match recorded, or the start of the search that found none
// before `limit`. Inlined: called out of line, it made find_all 5-8% slower
// (bench_aho_corasick).
[[gnu::always_inline]] inline bool next_search(const detail::TextSearch& search, Walk& w,
                                               size_t limit, std::vector<AcMatch>& out,
                                               size_t& resume) {
  if (w.best == kNoPattern || search.match_of(w).byte_begin >= limit) {
    resume = w.from;
    return false;
  }
  out.push_back(search.match_of(w));
  resume = w.best_end;
  if (w.best_end >= search.n) return false;
  w = search.walk_from(w.best_end);
  return true;
}

}  // namespace

void AhoCorasick::find_all(std::string_view text, AcScratch& scratch) const {
  std::vector<AcMatch>& out = scratch.matches;
  out.clear();
  AcMatch m;
  if (text.size() < kTwoLaneMinBytes) {
    for (size_t from = 0; find(text, from, m); from = m.byte_end) out.push_back(m);
    return;
  }
  const detail::TextSearch search(*this, text);
  const size_t h = text.size() / 2;
  const size_t cutoff = h + max_pattern_len_;
  std::vector<AcMatch>& tail = scratch.tail;
  tail.clear();
  Walk a = search.walk_from(0);
  Walk b = search.walk_from(h);
  size_t p = 0;  // where lane A leaves the iteration to lane B
  size_t b_resume = 0;
  bool a_on = true;
  bool b_on = true;
  const auto a_done = [&](bool stepped) {
    return !stepped || (a.best == kNoPattern && a.at >= cutoff);
  };
  while (a_on && b_on) {
    const bool a_stepped = search.step(a);
    const bool b_stepped = search.step(b);
    if (a_done(a_stepped)) [[unlikely]]
      a_on = next_search(search, a, h, out, p);
    if (!b_stepped) [[unlikely]]
      b_on = next_search(search, b, kNoLimit, tail, b_resume);
  }
  while (a_on)
    if (a_done(search.step(a))) a_on = next_search(search, a, h, out, p);
  while (b_on)
    if (!search.step(b)) b_on = next_search(search, b, kNoLimit, tail, b_resume);

  if (p <= h) {
    out.insert(out.end(), tail.begin(), tail.end());
    return;
  }
  for (size_t k = 0;;) {
    while (k < tail.size() && tail[k].byte_end <= p) ++k;
    if (k == tail.size()) return;
    if (tail[k].byte_begin >= p) {
      out.insert(out.end(), tail.begin() + static_cast<ptrdiff_t>(k), tail.end());
      return;
    }
    if (!find(text, p, m)) return;
    out.push_back(m);
    p = m.byte_end;
  }
}

size_t AhoCorasick::pattern_count() const noexcept { return pattern_len_.size(); }

size_t AhoCorasick::memory_bytes() const noexcept {
  return sizeof(*this) + states_.capacity() * sizeof(uint32_t) +
         pattern_len_.capacity() * sizeof(uint32_t);
}

}  // namespace corvanta
