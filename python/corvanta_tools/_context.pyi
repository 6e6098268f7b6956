"""The toolkit's compiled helper (src/tools/context_scan.cpp)."""

def scan(text: str, table: bytes, /) -> list[int]:
    """Start, end and phrase number of each phrase of the table's prefix tree
    found in the lower-cased text, flat."""
