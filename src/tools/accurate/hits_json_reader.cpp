// Reads the hits of Corvanta.map_text_json, as its header describes.
#include "hits_json_reader.hpp"

#include <cstdint>

namespace corvanta_tools_accurate {
namespace {

struct Cursor {
  const char* at;
  const char* end;

  void skip_space() {
    while (at < end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r')) ++at;
  }
  bool take(char c) {
    skip_space();
    if (at == end || *at != c) return false;
    ++at;
    return true;
  }
  bool take_literal(std::string_view word) {
    skip_space();
    if (static_cast<size_t>(end - at) < word.size() || std::string_view(at, word.size()) != word) {
      return false;
    }
    at += word.size();
    return true;
  }
};

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool read_hex4(Cursor& in, uint32_t& value) {
  if (in.end - in.at < 4) return false;
  value = 0;
  for (int k = 0; k < 4; ++k) {
    const int digit = hex_value(in.at[k]);
    if (digit < 0) return false;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  in.at += 4;
  return true;
}

void append_utf8(uint32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool read_escape(Cursor& in, std::string& out) {
  if (in.at == in.end) return false;
  const char c = *in.at++;
  switch (c) {
    case '"':
    case '\\':
    case '/':
      out += c;
      return true;
    case 'b':
      out += '\b';
      return true;
    case 'f':
      out += '\f';
      return true;
    case 'n':
      out += '\n';
      return true;
    case 'r':
      out += '\r';
      return true;
    case 't':
      out += '\t';
      return true;
    case 'u':
      break;
    default:
      return false;
  }
  uint32_t code = 0;
  if (!read_hex4(in, code)) return false;
  if (code >= 0xD800 && code < 0xDC00) {
    uint32_t low = 0;
    if (in.end - in.at < 6 || in.at[0] != '\\' || in.at[1] != 'u') return false;
    in.at += 2;
    if (!read_hex4(in, low) || low < 0xDC00 || low >= 0xE000) return false;
    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
  } else if (code >= 0xDC00 && code < 0xE000) {
    return false;
  }
  append_utf8(code, out);
  return true;
}

// A JSON string's contents, unescaped, into `out` (UTF-8).
bool read_string(Cursor& in, std::string& out) {
  out.clear();
  if (!in.take('"')) return false;
  const char* run = in.at;
  while (in.at < in.end) {
    const char c = *in.at;
    if (c == '"') {
      out.append(run, in.at);
      ++in.at;
      return true;
    }
    if (c == '\\') {
      out.append(run, in.at);
      ++in.at;
      if (!read_escape(in, out)) return false;
      run = in.at;
      continue;
    }
    ++in.at;
  }
  return false;
}

bool read_index(Cursor& in, Py_ssize_t& value) {
  in.skip_space();
  const char* first = in.at;
  value = 0;
  while (in.at < in.end && *in.at >= '0' && *in.at <= '9' && in.at - first < 18) {
    value = value * 10 + (*in.at - '0');
    ++in.at;
  }
  return in.at > first && (in.at == in.end || *in.at < '0' || *in.at > '9');
}

bool read_member(Cursor& in, std::string& key, JsonHit& hit) {
  if (!read_string(in, key) || !in.take(':')) return false;
  if (key == "termId") return read_string(in, hit.term_id);
  if (key == "label") return read_string(in, hit.label);
  if (key == "excluded") {
    hit.excluded = in.take_literal("true");
    return hit.excluded || in.take_literal("false");
  }
  if (key == "span") {
    return in.take('[') && read_index(in, hit.start) && in.take(',') && read_index(in, hit.end) &&
           in.take(']');
  }
  return false;
}

bool read_hit(Cursor& in, std::string& key, JsonHit& hit) {
  hit.start = hit.end = -1;
  if (!in.take('{')) return false;
  int members = 0;
  do {
    if (!read_member(in, key, hit)) return false;
    ++members;
  } while (in.take(','));
  return in.take('}') && members == 4 && hit.start >= 0;
}

}  // namespace

bool HitsJson::next(JsonHit& hit) {
  if (malformed_) return false;
  Cursor in{at_, end_};
  bool more = false;
  if (!started_) {
    started_ = true;
    malformed_ = !in.take('[');
    more = !malformed_ && !in.take(']');
  } else {
    more = in.take(',');
    malformed_ = !more && !in.take(']');
  }
  if (more) malformed_ = !read_hit(in, key_, hit);
  if (!more && !malformed_) {
    in.skip_space();
    malformed_ = in.at != in.end;
  }
  at_ = in.at;
  return more && !malformed_;
}

}  // namespace corvanta_tools_accurate
