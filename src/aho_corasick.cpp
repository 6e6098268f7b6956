// ESSAY PLACEHOLDER
#include "aho_corasick.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

namespace corvanta {
namespace {

// ---- Limits -------------------------------------------------------------

// Pattern ids are uint32_t and kNoPattern is reserved.
constexpr size_t kMaxPatterns = size_t{1} << 31;
// Trie node ids are uint32_t; a pattern set can need one node per byte.
constexpr size_t kMaxTrieNodes = size_t{1} << 31;
// State ids are offsets into one uint32_t array.
constexpr uint64_t kMaxWords = std::numeric_limits<uint32_t>::max();

// ---- Compiled layout ----------------------------------------------------

#ifndef AC_DENSE_DEPTH
#define AC_DENSE_DEPTH 2
#endif
#ifndef AC_MAX_SPARSE
#define AC_MAX_SPARSE 16
#endif
// States shallower than this get a full row.
constexpr uint32_t kDenseDepth = AC_DENSE_DEPTH;
// Deeper states with more transitions than this get a full row too.
constexpr uint32_t kMaxSparse = AC_MAX_SPARSE;

constexpr uint32_t kDeadId = 0;
constexpr uint32_t kDenseKind = 0xFF;
constexpr uint32_t kKindMask = 0xFF;
constexpr uint32_t kNoPattern = std::numeric_limits<uint32_t>::max();

constexpr uint32_t key_words(uint32_t n) { return (n + 3) / 4; }

// One transition out of state `sid` on class `cls`, following failure links
// until some state answers. Every chain ends in a dense state (the start
// state or dead), whose rows are complete.
[[gnu::always_inline]] inline uint32_t next_state(const uint32_t* st, uint32_t sid,
                                                  uint32_t cls) noexcept {
  for (;;) {
    const uint32_t header = st[sid];
    const uint32_t kind = header & kKindMask;
    if (kind == kDenseKind) return st[sid + 2 + cls];
    if (kind == 1) {
      if ((header >> 8) == cls) return st[sid + 2];
    } else if (kind != 0) {
      const auto* keys = reinterpret_cast<const uint8_t*>(st + sid + 2);
      for (uint32_t k = 0; k < kind; ++k) {
        if (keys[k] == cls) return st[sid + 2 + key_words(kind) + k];
      }
    }
    sid = st[sid + 1];
  }
}

// ---- Trie ---------------------------------------------------------------

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kDeadNode = 0;
constexpr uint32_t kRootNode = 1;

// Children of a node form a singly linked list in byte order.
struct Trie {
  std::vector<uint32_t> first_child;
  std::vector<uint32_t> next_sibling;
  std::vector<uint32_t> pattern;  // pattern ending here, lowest id wins
  std::vector<uint8_t> byte;      // label of the edge from the parent
  std::array<uint32_t, 256> root_child{};
  std::array<bool, 256> byte_used{};

  uint32_t add_node(uint8_t b) {
    const auto id = static_cast<uint32_t>(byte.size());
    first_child.push_back(kNone);
    next_sibling.push_back(kNone);
    pattern.push_back(kNone);
    byte.push_back(b);
    byte_used[b] = true;
    return id;
  }

  [[nodiscard]] size_t node_count() const { return byte.size(); }

  [[nodiscard]] uint32_t child(uint32_t node, uint8_t b) const {
    if (node == kRootNode) return root_child[b];
    for (uint32_t c = first_child[node]; c != kNone; c = next_sibling[c]) {
      if (byte[c] >= b) return byte[c] == b ? c : kNone;
    }
    return kNone;
  }
};

std::string_view bytes_of(const std::string& s) { return {s.data(), s.size()}; }

// Inserts the patterns in sorted order, so that each one shares exactly the
// previous one's path up to their common prefix: no child lookups, new
// nodes of one pattern are contiguous, and sibling lists come out sorted.
Trie build_trie(const std::vector<std::string>& patterns, size_t total_bytes) {
  Trie trie;
  trie.first_child.reserve(total_bytes + 2);
  trie.next_sibling.reserve(total_bytes + 2);
  trie.pattern.reserve(total_bytes + 2);
  trie.byte.reserve(total_bytes + 2);
  trie.add_node(0);  // dead
  trie.add_node(0);  // root
  trie.byte_used = {};
  trie.root_child.fill(kNone);

  std::vector<uint32_t> order;
  order.reserve(patterns.size());
  for (size_t i = 0; i < patterns.size(); ++i) {
    if (!patterns[i].empty()) order.push_back(static_cast<uint32_t>(i));
  }
  // std::string_view compares bytes as unsigned char, as the trie does.
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const int c = bytes_of(patterns[a]).compare(bytes_of(patterns[b]));
    return c < 0 || (c == 0 && a < b);
  });

  std::vector<uint32_t> path{kRootNode};  // path[d]: node of the previous pattern's d-byte prefix
  std::string_view prev;
  for (const uint32_t id : order) {
    const std::string_view p = bytes_of(patterns[id]);
    const size_t lcp = static_cast<size_t>(
        std::mismatch(prev.begin(), prev.end(), p.begin(), p.end()).first - prev.begin());
    const uint32_t left_sibling = lcp + 1 < path.size() ? path[lcp + 1] : kNone;
    path.resize(lcp + 1);
    for (size_t d = lcp; d < p.size(); ++d) {
      const auto b = static_cast<uint8_t>(p[d]);
      const uint32_t parent = path[d];
      const uint32_t node = trie.add_node(b);
      if (d == lcp && left_sibling != kNone) {
        trie.next_sibling[left_sibling] = node;
      } else {
        trie.first_child[parent] = node;
      }
      if (parent == kRootNode) trie.root_child[b] = node;
      path.push_back(node);
    }
    uint32_t& terminal = trie.pattern[path[p.size()]];
    if (terminal == kNone) terminal = id;
    prev = p;
  }
  return trie;
}

// ---- Failure links ------------------------------------------------------

struct Links {
  std::vector<uint32_t> bfs;    // node ids, root first, parents before children
  std::vector<uint32_t> depth;
  std::vector<uint32_t> fail;
  std::vector<uint32_t> match;  // pattern recorded on entering the node
};

// Leftmost failure links: a node where a pattern ends fails to dead, so
// after a match the search extends it or stops, never falls back to a match
// starting further right. A node without a pattern of its own reports the
// pattern of its failure target: the longest pattern that ends here, found
// by falling back to a suffix before any longer match could still start.
Links link_trie(const Trie& trie) {
  const size_t n = trie.node_count();
  Links links;
  links.bfs.reserve(n - 1);
  links.depth.assign(n, 0);
  links.fail.assign(n, kDeadNode);
  links.match.assign(n, kNone);

  const auto follow = [&](uint32_t state, uint8_t b) {
    for (;;) {
      if (state == kDeadNode) return kDeadNode;
      const uint32_t next = trie.child(state, b);
      if (next != kNone) return next;
      if (state == kRootNode) return kRootNode;
      state = links.fail[state];
    }
  };

  links.bfs.push_back(kRootNode);
  for (size_t head = 0; head < links.bfs.size(); ++head) {
    const uint32_t parent = links.bfs[head];
    for (uint32_t node = trie.first_child[parent]; node != kNone; node = trie.next_sibling[node]) {
      links.bfs.push_back(node);
      links.depth[node] = links.depth[parent] + 1;
      if (trie.pattern[node] != kNone) {
        links.match[node] = trie.pattern[node];
        continue;  // fail stays dead
      }
      const uint32_t fail =
          parent == kRootNode ? kRootNode : follow(links.fail[parent], trie.byte[node]);
      links.fail[node] = fail;
      links.match[node] = links.match[fail];
    }
  }
  return links;
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

[[gnu::cold]] Error capacity_error(std::string message) {
  return Error{Errc::kMatcherBuild, std::move(message), {}};
}

}  // namespace

// ---- Compilation --------------------------------------------------------

Result<std::unique_ptr<const AhoCorasick>> AhoCorasick::build(
    const std::vector<std::string>& patterns) {
  if (patterns.size() >= kMaxPatterns) {
    return capacity_error("too many patterns (" + std::to_string(patterns.size()) +
                          "); the automaton holds fewer than " + std::to_string(kMaxPatterns));
  }
  size_t total_bytes = 0;
  for (const auto& p : patterns) total_bytes += p.size();
  if (total_bytes + 2 > kMaxTrieNodes) {
    return capacity_error("patterns too long (" + std::to_string(total_bytes) +
                          " bytes); the automaton holds fewer than " +
                          std::to_string(kMaxTrieNodes) + " states");
  }

  const Trie trie = build_trie(patterns, total_bytes);
  const Links links = link_trie(trie);
  const ByteClasses classes = make_classes(trie.byte_used);

  const size_t n = trie.node_count();
  std::vector<uint32_t> child_count(n, 0);
  for (size_t v = 0; v < n; ++v) {
    for (uint32_t c = trie.first_child[v]; c != kNone; c = trie.next_sibling[c]) ++child_count[v];
  }
  const auto is_dense = [&](uint32_t v) {
    return links.depth[v] < kDenseDepth || child_count[v] > kMaxSparse;
  };
  const auto record_words = [&](uint32_t v) -> uint64_t {
    const uint32_t k = child_count[v];
    if (is_dense(v)) return 2 + uint64_t{classes.count};
    if (k <= 1) return 2 + k;
    return 2 + key_words(k) + k;
  };

  // Ids: dead, then match states (each preceded by its pattern id), then the
  // rest, so that "dead or match" is one comparison.
  std::vector<uint32_t> id(n, kDeadId);
  uint64_t words = 2 + uint64_t{classes.count};
  uint32_t max_special = kDeadId;
  for (const bool matches : {true, false}) {
    for (const uint32_t v : links.bfs) {
      if ((links.match[v] != kNone) != matches) continue;
      words += matches ? 1 : 0;
      if (words > kMaxWords) break;
      id[v] = static_cast<uint32_t>(words);
      if (matches) max_special = id[v];
      words += record_words(v);
    }
  }
  if (words > kMaxWords) {
    return capacity_error("automaton too large (" + std::to_string(words) + " words); at most " +
                          std::to_string(kMaxWords) + " are addressable");
  }

  std::unique_ptr<AhoCorasick> ac(new AhoCorasick());
  ac->states_.assign(words, 0);
  ac->byte_class_ = classes.of;
  ac->start_ = id[kRootNode];
  ac->max_special_ = max_special;
  ac->pattern_len_.resize(patterns.size());
  for (size_t i = 0; i < patterns.size(); ++i) {
    ac->pattern_len_[i] = static_cast<uint32_t>(patterns[i].size());
  }

  uint32_t* st = ac->states_.data();
  st[kDeadId] = kDenseKind;  // its row and failure link are all dead
  // Parents' failure targets precede them in breadth-first order, so dense
  // rows can take their misses from already compiled states.
  for (const uint32_t v : links.bfs) {
    const uint32_t sid = id[v];
    if (links.match[v] != kNone) st[sid - 1] = links.match[v];
    st[sid + 1] = id[links.fail[v]];
    const uint32_t k = child_count[v];
    if (is_dense(v)) {
      st[sid] = kDenseKind;
      uint32_t* row = st + sid + 2;
      for (uint32_t cls = 0; cls < classes.count; ++cls) {
        row[cls] = v == kRootNode ? sid : next_state(st, id[links.fail[v]], cls);
      }
      for (uint32_t c = trie.first_child[v]; c != kNone; c = trie.next_sibling[c]) {
        row[classes.of[trie.byte[c]]] = id[c];
      }
    } else if (k == 1) {
      const uint32_t c = trie.first_child[v];
      st[sid] = 1 | (uint32_t{classes.of[trie.byte[c]]} << 8);
      st[sid + 2] = id[c];
    } else {
      st[sid] = k;
      auto* keys = reinterpret_cast<uint8_t*>(st + sid + 2);
      uint32_t* targets = st + sid + 2 + key_words(k);
      uint32_t i = 0;
      for (uint32_t c = trie.first_child[v]; c != kNone; c = trie.next_sibling[c], ++i) {
        keys[i] = classes.of[trie.byte[c]];
        targets[i] = id[c];
      }
    }
  }
  return std::unique_ptr<const AhoCorasick>(std::move(ac));
}

bool AhoCorasick::find(std::string_view text, size_t from, AcMatch& out) const noexcept {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  const uint32_t* st = states_.data();
  const uint8_t* cls = byte_class_.data();
  const uint32_t max_special = max_special_;
  uint32_t sid = start_;
  uint32_t best = kNoPattern;
  size_t best_end = 0;
  for (size_t i = from; i < n; ++i) {
    sid = next_state(st, sid, cls[bytes[i]]);
    if (sid <= max_special) [[unlikely]] {
      if (sid == kDeadId) break;
      best = st[sid - 1];
      best_end = i + 1;
    }
  }
  if (best == kNoPattern) return false;
  out.pattern = best;
  out.byte_end = best_end;
  out.byte_begin = best_end - pattern_len_[best];
  return true;
}

size_t AhoCorasick::pattern_count() const noexcept { return pattern_len_.size(); }

size_t AhoCorasick::memory_bytes() const noexcept {
  return sizeof(*this) + states_.capacity() * sizeof(uint32_t) +
         pattern_len_.capacity() * sizeof(uint32_t);
}

}  // namespace corvanta
