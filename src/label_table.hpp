// One row of the label table: a usable surface form of a phenotype term.
// A row's position is the pattern index of the exact-stage automaton.
#pragma once

#include <string>
#include <vector>

namespace corvanta {

struct LabelEntry {
  std::string term_id;  // printed term id, e.g. "HP:0001250"
  std::string surface;  // label or synonym, letter case as in the ontology
};

using LabelTable = std::vector<LabelEntry>;

}  // namespace corvanta
