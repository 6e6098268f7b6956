// The walk runs over dense term numbers: each local id is numbered once,
// through a hash map, and the children lists are one array in compressed
// sparse row form (offsets per parent, children in edge order). That keeps
// the ~23k edges of a release in two allocations and makes the walk a scan
// of integers. The first version sorted (parent, child) pairs of texts and
// looked children up by binary search; text comparisons made it about 8 ms
// of a 52 ms load, against under 4 ms now, most of it filling the result
// set (benchmarks/bench_load_release.cpp).
#include "ontology/phenotype_subtree.hpp"

#include <cstdint>
#include <unordered_map>

#include "ontology/namespaces.hpp"

namespace corvanta::ontology {

void PhenotypeSubtreeBuilder::add_edge(std::string_view sub, std::string_view pred,
                                       std::string_view obj) {
  if (pred != "is_a" || !sub.starts_with(kHpIriBase) || !obj.starts_with(kHpIriBase)) return;
  edges_.push_back({obj.substr(kHpIriBase.size()), sub.substr(kHpIriBase.size())});
}

PhenotypeSubtree PhenotypeSubtreeBuilder::build() const {
  constexpr std::string_view kHp = "HP:";
  const std::string_view root = kPhenotypeRoot.substr(kHp.size());

  // Term numbers, the root first, and each edge's ends as numbers.
  std::unordered_map<std::string_view, uint32_t> numbers;
  numbers.reserve(edges_.size() + 1);
  std::vector<std::string_view> local_ids;
  local_ids.reserve(edges_.size() + 1);
  auto number_of = [&](std::string_view local_id) {
    auto [at, added] = numbers.try_emplace(local_id, static_cast<uint32_t>(local_ids.size()));
    if (added) local_ids.push_back(local_id);
    return at->second;
  };
  number_of(root);
  std::vector<uint32_t> parents(edges_.size());
  std::vector<uint32_t> children(edges_.size());
  for (size_t edge = 0; edge < edges_.size(); ++edge) {
    parents[edge] = number_of(edges_[edge].parent);
    children[edge] = number_of(edges_[edge].child);
  }

  // Children of term t: child_list[first_child[t] .. first_child[t + 1]).
  std::vector<uint32_t> first_child(local_ids.size() + 1, 0);
  for (uint32_t parent : parents) ++first_child[parent + 1];
  for (size_t term = 0; term < local_ids.size(); ++term) {
    first_child[term + 1] += first_child[term];
  }
  std::vector<uint32_t> child_list(edges_.size());
  std::vector<uint32_t> fill(first_child.begin(), first_child.end() - 1);
  for (size_t edge = 0; edge < edges_.size(); ++edge) {
    child_list[fill[parents[edge]]++] = children[edge];
  }

  // Breadth first from the root (number 0); `queue` doubles as the result.
  std::vector<bool> seen(local_ids.size(), false);
  std::vector<uint32_t> queue = {0};
  seen[0] = true;
  for (size_t front = 0; front < queue.size(); ++front) {
    const uint32_t term = queue[front];
    for (uint32_t at = first_child[term]; at < first_child[term + 1]; ++at) {
      const uint32_t child = child_list[at];
      if (!seen[child]) {
        seen[child] = true;
        queue.push_back(child);
      }
    }
  }

  PhenotypeSubtree subtree;
  subtree.reserve(queue.size());
  std::string id_text(kHp);
  for (uint32_t term : queue) {
    id_text.resize(kHp.size());
    id_text += local_ids[term];
    subtree.insert(id_text);
  }
  return subtree;
}

}  // namespace corvanta::ontology
