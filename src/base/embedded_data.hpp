// The lists under data/, compiled into the module byte for byte.
#pragma once

#include <string_view>

namespace corvanta::data {

extern const std::string_view kNamespaces;    // data/namespaces.txt
extern const std::string_view kSynonymList1;  // data/synonym_list_1.txt (CR LF)
extern const std::string_view kSynonymList2;  // data/synonym_list_2.txt (CR LF)

}  // namespace corvanta::data
