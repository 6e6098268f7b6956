// Compact JSON rendering of hits:
//   [{"excluded":false,"label":"abc","span":[10,13],"termId":"HP:0000118"}]
// Keys in byte order, no whitespace, control characters escaped with
// lower-case hex, everything else (solidus and non-ASCII included) verbatim.
#pragma once

#include <span>
#include <string>

#include "lexicon/label_table.hpp"
#include "recognize/hit_record.hpp"

namespace corvanta {

// Replaces `out` with the JSON text of `hits`, whose rows index `labels`.
void render_hits_json(std::span<const HitRecord> hits, const LabelTable& labels, std::string& out);

}  // namespace corvanta
