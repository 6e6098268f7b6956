// Construction pipeline, exact stage and recognition driver.
#include "hpo.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "clustering.hpp"
#include "debug_check.hpp"
#include "negation.hpp"
#include "text/unicode.hpp"

namespace corvanta {

namespace {

Error ontology_load_error(std::string_view path, Error cause) {
  if (cause.code == Errc::kInvariant) return cause;
  std::string message = "failed to load HPO ontology from ";
  message.append(path);
  message += ": ";
  message += cause.message;
  return std::move(cause).wrapped(Errc::kOntologyLoad, std::move(message));
}

}  // namespace

Result<LabeledRelease> label_release(const ontology::Release& release) {
  CORVANTA_TRY(std::string version, ontology::ontology_version(release.ontology));
  return LabeledRelease{std::move(version), build_label_table(release.ontology, release.subtree)};
}

Result<std::unique_ptr<const AhoCorasick>> build_automaton(const LoweredSurfaces& lowered) {
  auto automaton = AhoCorasick::build(lowered.views());
  if (automaton.ok()) return automaton;
  Error cause = std::move(automaton).error();
  std::string message = "failed to build the concept matcher: " + cause.message;
  return std::move(cause).wrapped(Errc::kMatcherBuild, std::move(message));
}

Result<std::unique_ptr<const MatcherState>> build_from_path(std::string_view path) {
  LabeledRelease labeled;
  {
    auto release = ontology::load_release(path);
    if (!release.ok()) return ontology_load_error(path, std::move(release).error());
    CORVANTA_TRY(labeled, label_release(release.value()));
  }  // the parsed document, the ontology and the subtree are released here
  const LoweredSurfaces lowered(labeled.labels);
  CORVANTA_TRY(auto automaton, build_automaton(lowered));
  auto index = ConceptIndex::build(lowered.views());
  return std::make_unique<const MatcherState>(std::move(labeled.labels), std::move(labeled.version),
                                              std::move(automaton), std::move(index));
}

namespace {

bool is_word_char_before(std::string_view text, size_t at) {
  if (at == 0) return false;
  const auto byte = static_cast<unsigned char>(text[at - 1]);
  if (byte < 128) return text::is_word_char(byte);
  return text::is_word_char(text::previous_code_point(text, at));
}

bool is_word_char_at(std::string_view text, size_t at) {
  if (at >= text.size()) return false;
  const auto byte = static_cast<unsigned char>(text[at]);
  if (byte < 128) return text::is_word_char(byte);
  return text::is_word_char(text::next_code_point(text, at));
}

// Whole labels on word boundaries. A match rejected for its boundaries still
// consumes its stretch: the search resumes at its end.
void find_exact_hits(const AhoCorasick& automaton, std::string_view lowered, AcScratch& scratch,
                     HitList& out) {
  automaton.find_all(lowered, scratch);
  for (const AcMatch& match : scratch.matches) {
    if (is_word_char_before(lowered, match.byte_begin) || is_word_char_at(lowered, match.byte_end))
      continue;
    out.push_back(HitRecord{row_of_pattern(match.pattern), match.byte_begin, match.byte_end, false});
  }
}

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
      kept.erase(std::remove_if(first, kept.end(),
                                [&](const Candidate& other) {
                                  return !(other.byte_begin == c.byte_begin &&
                                           other.byte_end == c.byte_end) &&
                                         c.byte_begin <= other.byte_begin &&
                                         other.byte_end <= c.byte_end;
                                }),
                 kept.end());
    }
    kept.push_back(c);
  }
  candidates.swap(kept);
}

// Whether the candidate overlaps one of the exact hits, which are sorted and
// pairwise disjoint.
bool overlaps_exact(const Candidate& c, const HitList& exact, size_t exact_count) {
  auto first = exact.begin();
  auto last = exact.begin() + static_cast<ptrdiff_t>(exact_count);
  // The first exact hit that ends after the candidate starts.
  auto it = std::partition_point(first, last,
                                 [&](const HitRecord& e) { return e.byte_end <= c.byte_begin; });
  return it != last && it->byte_begin < c.byte_end;
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

// What the exact stage promises (checked in debug-check builds): its hits
// are ordered and pairwise disjoint, which overlaps_exact relies on.
void debug_check_exact_hits(const HitList& exact) {
  if constexpr (!detail::kDebugChecks) return;
  for (size_t i = 1; i < exact.size(); ++i)
    CORVANTA_DCHECK(exact[i - 1].byte_end <= exact[i].byte_begin);
}

// What recognition promises of its hits (checked in debug-check builds):
// every span is non-empty and inside the lowered text, and the list is
// ordered by start.
void debug_check_hits(const HitList& hits, size_t text_size) {
  if constexpr (!detail::kDebugChecks) return;
  for (size_t i = 0; i < hits.size(); ++i) {
    CORVANTA_DCHECK(hits[i].byte_begin < hits[i].byte_end && hits[i].byte_end <= text_size);
    if (i > 0) CORVANTA_DCHECK(hits[i - 1].byte_begin <= hits[i].byte_begin);
  }
}

}  // namespace

std::span<const HitRecord> recognize(const MatcherState& state, std::string_view text,
                                     RecognitionOptions options, RecognitionScratch& scratch) {
  HitList& out = scratch.hits;
  out.clear();
  text::lower_case(text, scratch.lowered);
  const std::string_view lowered = scratch.lowered;

  find_exact_hits(state.automaton(), lowered, scratch.exact, out);
  debug_check_exact_hits(out);
  const size_t exact_count = out.size();

  find_candidates(state.index(), lowered, scratch.clustering, scratch.candidates);
  if (options.longest_only) keep_longest(scratch.candidates, scratch.kept);
  for (const Candidate& c : scratch.candidates)
    if (!overlaps_exact(c, out, exact_count))
      out.push_back(HitRecord{c.row, c.byte_begin, c.byte_end, false});

  order_by_start(out, exact_count, scratch.merge);
  debug_check_hits(out, lowered.size());
  mark_negated(lowered, out);
  return out;
}

}  // namespace corvanta
