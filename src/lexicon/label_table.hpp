// The label table: one row per usable surface form of a phenotype term, in
// the order construction emits them. A row's position is its RowId, and the
// pattern id of its lower-cased surface in the exact-stage automaton.
//
// The texts live in one arena, copied once from the parsed release; a row
// holds offsets into it, and the rows of one term share its id text. A
// LabelEntry is a pair of views into the arena: it lives as long as the
// table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "base/ids.hpp"

namespace corvanta {

struct LabelEntry {
  std::string_view term_id;  // printed term id, e.g. "HP:0001250"
  std::string_view surface;  // label or synonym, letter case as in the ontology
};

class LabelTable {
 public:
  LabelTable() = default;
  LabelTable(std::initializer_list<LabelEntry> rows) {
    for (const LabelEntry& row : rows) add(row.term_id, row.surface);
  }

  void reserve(size_t rows, size_t text_bytes) {
    rows_.reserve(rows);
    arena_.reserve(text_bytes);
  }

  // Appends a row. A term id equal to the previous row's is stored once.
  void add(std::string_view term_id, std::string_view surface) {
    Row row;
    if (!rows_.empty() && term_id_of(rows_.back()) == term_id) {
      row.term_begin = rows_.back().term_begin;
    } else {
      row.term_begin = append(term_id);
    }
    row.term_size = static_cast<uint32_t>(term_id.size());
    row.surface_begin = append(surface);
    row.surface_size = static_cast<uint32_t>(surface.size());
    rows_.push_back(row);
  }

  [[nodiscard]] size_t size() const noexcept { return rows_.size(); }
  [[nodiscard]] LabelEntry operator[](RowId row) const noexcept { return (*this)[row.v]; }
  [[nodiscard]] LabelEntry operator[](size_t row) const noexcept {
    const Row& r = rows_[row];
    return LabelEntry{term_id_of(r),
                      std::string_view(arena_.data() + r.surface_begin, r.surface_size)};
  }
  [[nodiscard]] size_t memory_bytes() const noexcept {
    return arena_.capacity() + rows_.capacity() * sizeof(Row);
  }

 private:
  struct Row {
    uint32_t term_begin = 0;
    uint32_t term_size = 0;
    uint32_t surface_begin = 0;
    uint32_t surface_size = 0;
  };

  uint32_t append(std::string_view text) {
    const auto begin = static_cast<uint32_t>(arena_.size());
    arena_.append(text);
    return begin;
  }
  std::string_view term_id_of(const Row& r) const noexcept {
    return std::string_view(arena_.data() + r.term_begin, r.term_size);
  }

  std::string arena_;
  std::vector<Row> rows_;
};

}  // namespace corvanta
