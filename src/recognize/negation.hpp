// Negation scope: which hits stand after a trigger phrase ("no evidence of",
// "denies", ...) and before the first terminator phrase ("but", "is seen",
// ...) of their sentence.
//
// Sentences are split, and phrases searched, in the lower-cased text: the
// coordinates in which hit spans are expressed. For a text whose lower-casing
// keeps byte lengths this is the same as working in the caller's text.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "recognize/hit_record.hpp"

namespace corvanta {

// Sets `excluded` on every hit whose start lies in a negated stretch of its
// sentence. Never clears a flag, never adds, removes or reorders hits.
// `lowered_text` is the lower-cased text the hits were found in. Allocates
// nothing.
void mark_negated(std::string_view lowered_text, std::span<HitRecord> hits);

}  // namespace corvanta
