#include <doctest/doctest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "recognize/hits_json.hpp"

namespace corvanta {
namespace {

std::string render(const std::vector<HitRecord>& hits, const LabelTable& labels) {
  std::string out = "stale";
  render_hits_json(hits, labels, out);
  return out;
}

std::string render_label(std::string label) {
  const LabelTable labels = {{"HP:0000001", std::move(label)}};
  return render({{0, 0, 1, false}}, labels);
}

std::string with_label(std::string_view json_label) {
  return R"([{"excluded":false,"label":")" + std::string(json_label) +
         R"(","span":[0,1],"termId":"HP:0000001"}])";
}

TEST_CASE("hits as JSON") {
  const LabelTable labels = {{"HP:0000118", "abc"}, {"HP:0001250", "Seizure"}};
  SUBCASE("no hits") { CHECK(render({}, labels) == "[]"); }
  SUBCASE("one hit") {
    CHECK(render({{0, 10, 13, false}}, labels) ==
          R"([{"excluded":false,"label":"abc","span":[10,13],"termId":"HP:0000118"}])");
  }
  SUBCASE("several hits keep their order") {
    CHECK(render({{1, 0, 7, true}, {0, 0, 3, false}, {1, 8, 15, false}}, labels) ==
          R"([{"excluded":true,"label":"Seizure","span":[0,7],"termId":"HP:0001250"},)"
          R"({"excluded":false,"label":"abc","span":[0,3],"termId":"HP:0000118"},)"
          R"({"excluded":false,"label":"Seizure","span":[8,15],"termId":"HP:0001250"}])");
  }
  SUBCASE("offsets beyond 32 bits") {
    CHECK(render({{0, uint64_t{1} << 40, UINT64_MAX, false}}, labels) ==
          R"([{"excluded":false,"label":"abc","span":[1099511627776,18446744073709551615],)"
          R"("termId":"HP:0000118"}])");
  }
}

TEST_CASE("JSON string escapes") {
  struct Case {
    std::string label;
    std::string_view json;
  };
  std::string controls;
  for (char c = 0; c < 0x20; ++c) controls += c;
  const Case cases[] = {
      {"a\"b", R"(a\"b)"},
      {"a\\b", R"(a\\b)"},
      {"a\tb", R"(a\tb)"},
      {controls, R"(\u0000\u0001\u0002\u0003\u0004\u0005\u0006\u0007\b\t\n\u000b\f\r\u000e\u000f)"
                 R"(\u0010\u0011\u0012\u0013\u0014\u0015\u0016\u0017\u0018\u0019\u001a\u001b\u001c)"
                 R"(\u001d\u001e\u001f)"},
      {"a/b\x7f", "a/b\x7f"},
      {"caf\u00e9 \u4e2d", "caf\u00e9 \u4e2d"},
      {"\"\"x\\", R"(\"\"x\\)"},
      {"", ""},
  };
  for (const Case& c : cases) {
    CAPTURE(c.json);
    CHECK(render_label(c.label) == with_label(c.json));
  }
  const LabelTable odd_term_id = {{"HP:\"1\n", "x"}};
  CHECK(render({{0, 0, 1, false}}, odd_term_id) ==
        R"([{"excluded":false,"label":"x","span":[0,1],"termId":"HP:\"1\n"}])");
}

}  // namespace
}  // namespace corvanta
