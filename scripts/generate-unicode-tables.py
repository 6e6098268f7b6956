#!/usr/bin/env python3
"""Writes src/text/unicode_tables.hpp from the Unicode Character Database.

    python3 scripts/generate-unicode-tables.py [UCD_DIR [OUTPUT]]

UCD_DIR holds UnicodeData.txt, SpecialCasing.txt, PropList.txt and
DerivedCoreProperties.txt (default /usr/share/unicode, Debian's `unicode-data`
package); OUTPUT defaults to src/text/unicode_tables.hpp. The output is
committed, so that a build needs neither these files nor this script; rerun it
only to move to another Unicode version.

Each code point maps to a record: its property flags and its lower-casing,
either a distance to one code point or an index into a short list of
expansions (U+0130 and the like). Records are looked up through a two-stage
table: the top bits of the code point pick a block, blocks with the same
records are stored once.
"""
import re
import sys
from pathlib import Path

MAX_CODE_POINT = 0x10FFFF
FLAGS = ["word", "space", "upper", "lower", "cased", "case_ignorable", "expands"]
BIT = {name: 1 << i for i, name in enumerate(FLAGS)}
NUMERIC_CATEGORIES = {"Nd", "Nl", "No"}
OUTPUT = Path(__file__).resolve().parent.parent / "src" / "text" / "unicode_tables.hpp"


def data_lines(path):
    """(fields, comment-free) of each data line of a UCD file."""
    for line in path.read_text(encoding="utf-8").splitlines():
        line = line.split("#", 1)[0].strip()
        if line:
            yield [f.strip() for f in line.split(";")]


def code_range(field):
    first, _, last = field.partition("..")
    return range(int(first, 16), int(last or first, 16) + 1)


def file_version(path):
    """The Unicode version a file names in its first line (PropList-15.0.0.txt)."""
    first = path.read_text(encoding="utf-8").split("\n", 1)[0]
    match = re.search(r"-(\d+\.\d+\.\d+)\.txt", first)
    if not match:
        sys.exit(f"{path}: no version in its first line")
    return match[1]


def general_categories(ucd):
    """Category of every assigned code point; ranges are First/Last pairs."""
    categories = {}
    first = None
    for fields in data_lines(ucd / "UnicodeData.txt"):
        cp, name, category = int(fields[0], 16), fields[1], fields[2]
        if name.endswith(", First>"):
            first = cp
            continue
        for c in range(first if name.endswith(", Last>") else cp, cp + 1):
            categories[c] = category
        first = None
    return categories


def simple_lower(ucd):
    return {int(f[0], 16): [int(f[13], 16)] for f in data_lines(ucd / "UnicodeData.txt") if f[13]}


def unconditional_special_lower(ucd):
    """SpecialCasing's lower-casings without a condition (locale or context)."""
    special = {}
    for fields in data_lines(ucd / "SpecialCasing.txt"):
        if len(fields) > 4 and fields[4]:
            continue
        special[int(fields[0], 16)] = [int(c, 16) for c in fields[1].split()]
    return special


def binary_property(path, name):
    members = set()
    for fields in data_lines(path):
        if fields[1] == name:
            members.update(code_range(fields[0]))
    return members


def utf8_length(c):
    return 1 if c < 0x80 else 2 if c < 0x800 else 3 if c < 0x10000 else 4


def records_of(ucd):
    """Per code point (flags, lower), lower a code point delta or an expansion tuple."""
    categories = general_categories(ucd)
    derived = ucd / "DerivedCoreProperties.txt"
    props = {
        "space": binary_property(ucd / "PropList.txt", "White_Space"),
        "upper": binary_property(derived, "Uppercase"),
        "lower": binary_property(derived, "Lowercase"),
        "cased": binary_property(derived, "Cased"),
        "case_ignorable": binary_property(derived, "Case_Ignorable"),
    }
    alphabetic = binary_property(derived, "Alphabetic")
    lower = simple_lower(ucd) | unconditional_special_lower(ucd)
    records = []
    for c in range(MAX_CODE_POINT + 1):
        flags = sum(BIT[name] for name, members in props.items() if c in members)
        if c in alphabetic or categories.get(c) in NUMERIC_CATEGORIES:
            flags |= BIT["word"]
        mapped = lower.get(c, [c])
        # The lower-casing writes into a buffer of 3/2 of the input's length.
        if 2 * sum(map(utf8_length, mapped)) > 3 * utf8_length(c):
            sys.exit(f"U+{c:04X} lower-cases to more than 3/2 of its UTF-8 length")
        if len(mapped) == 1:
            records.append((flags, mapped[0] - c))
        else:
            records.append((flags | BIT["expands"], tuple(mapped)))
    return records


def two_stage(values, shift):
    """(block index per block, concatenated distinct blocks)."""
    size = 1 << shift
    blocks, index, stage1 = [], {}, []
    for start in range(0, len(values), size):
        block = tuple(values[start:start + size])
        if block not in index:
            index[block] = len(blocks)
            blocks.append(block)
        stage1.append(index[block])
    return stage1, [v for block in blocks for v in block]


def c_array(type_name, name, values, per_line=16):
    rows = [", ".join(map(str, values[i:i + per_line])) for i in range(0, len(values), per_line)]
    body = ",\n    ".join(rows)
    return f"inline constexpr {type_name} {name}[{len(values)}] = {{\n    {body}}};\n"


def utf8_escape(code_points):
    return "".join(f"\\x{b:02X}" for b in "".join(map(chr, code_points)).encode())


def render(version, records):
    distinct = sorted(set(records), key=lambda r: (r[0], str(r[1])))
    expansions = sorted({r[1] for r in distinct if isinstance(r[1], tuple)})
    record_index = {r: i for i, r in enumerate(distinct)}
    per_code_point = [record_index[r] for r in records]
    shift = min(range(4, 10), key=lambda s: sum(map(len, two_stage(per_code_point, s))) * 2)
    stage1, stage2 = two_stage(per_code_point, shift)
    index_type = "uint8_t" if len(distinct) <= 256 else "uint16_t"
    rows = []
    for flags, lower in distinct:
        value = expansions.index(lower) if isinstance(lower, tuple) else lower
        rows.append(f"{{{flags}, {value}}}")
    record_rows = ",\n    ".join(", ".join(rows[i:i + 6]) for i in range(0, len(rows), 6))
    expansion_rows = ",\n    ".join(f'"{utf8_escape(e)}"' for e in expansions)
    flag_lines = "\n".join(f"inline constexpr uint8_t k{''.join(w.title() for w in n.split('_'))} = {BIT[n]};"
                           for n in FLAGS)
    return f"""\
// GENERATED BY scripts/generate-unicode-tables.py FROM THE UNICODE CHARACTER
// DATABASE {version}; DO NOT EDIT.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvanta::text::tables {{

inline constexpr std::string_view kUnicodeVersion = "{version}";

{flag_lines}

// A code point's properties and lower-casing: `lower` is the distance to its
// lower-case code point, or with kExpands the index of its lower-casing in
// kExpansions.
struct Record {{
  uint8_t flags;
  int32_t lower;
}};

inline constexpr Record kRecords[{len(distinct)}] = {{
    {record_rows}}};

inline constexpr std::string_view kExpansions[{len(expansions)}] = {{
    {expansion_rows}}};

// kRecords index of code point c: kRecordIndex[(kBlock[c >> kBlockShift] << kBlockShift) | (c & kBlockMask)].
inline constexpr unsigned kBlockShift = {shift};
inline constexpr char32_t kBlockMask = {(1 << shift) - 1};

{c_array("uint16_t", "kBlock", stage1)}
{c_array(index_type, "kRecordIndex", stage2)}
}}  // namespace corvanta::text::tables
"""


def main():
    ucd = Path(sys.argv[1] if len(sys.argv) > 1 else "/usr/share/unicode")
    names = ["UnicodeData.txt", "SpecialCasing.txt", "PropList.txt", "DerivedCoreProperties.txt"]
    versions = {file_version(ucd / n) for n in names[1:]}
    if len(versions) != 1:
        sys.exit(f"{ucd}: files of different Unicode versions: {sorted(versions)}")
    output = Path(sys.argv[2]) if len(sys.argv) > 2 else OUTPUT
    output.write_text(render(versions.pop(), records_of(ucd)), encoding="utf-8")
    print(f"wrote {output}")


if __name__ == "__main__":
    main()
