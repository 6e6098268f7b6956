#!/usr/bin/env bash
# Replaces the HPO release the package carries with release VERSION.
#   bash scripts/update-embedded-release.sh VERSION      (a release date such as 2025-05-06)
# Downloads it the way `corvanta release fetch` does (curl or wget, version
# checked), gzips it unmodified into python/corvanta_tools/data/hp-VERSION.json.gz
# in place of the old file, rewrites the expected counts in
# tests/embedded_release.json and the version in the README and the data
# directory's README. Then commit python/corvanta_tools/data, the tests and the
# READMEs, and reinstall the package.
set -euo pipefail
cd "$(dirname "$0")/.."
version=${1:?usage: bash scripts/update-embedded-release.sh VERSION}
bash scripts/setup.sh >&2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fetched=$(.venv/bin/corvanta release fetch "$version" --cache-dir "$work")
data=python/corvanta_tools/data
old=$(cd "$data" && ls hp-*.json.gz)
old=${old#hp-}; old=${old%.json.gz}
gzip -9 -n -c "$fetched" > "$work/hp-$version.json.gz"
[ "$old" = "$version" ] || rm -f "$data/hp-$old.json.gz"
mv "$work/hp-$version.json.gz" "$data/hp-$version.json.gz"
old_sha=$(python3 -c "import json; print(json.load(open('tests/embedded_release.json'))['sha256'])")
.venv/bin/python - "$data/hp-$version.json.gz" > tests/embedded_release.json <<'PY'
import gzip, hashlib, json, sys
from corvanta_tools.releases import Release
path = sys.argv[1]
release = Release(path)
with open(path, "rb") as file:
    sha256 = hashlib.sha256(gzip.decompress(file.read())).hexdigest()
print(json.dumps({"version": release.version, "sha256": sha256, "hp_terms": release.term_count,
                  "obsolete_terms": release.obsolete_count,
                  "alternative_ids": release.alt_id_count}, indent=2))
PY
new_sha=$(python3 -c "import json; print(json.load(open('tests/embedded_release.json'))['sha256'])")
if [ "$old" != "$version" ]; then
  sed -i "s/$old/$version/g" "$data/README.md"
  sed -i -e "/^## Data and licence/,/^## /s/$old/$version/g" \
    -e "s/HPO release $old (embedded)/HPO release $version (embedded)/g" \
    -e "s/^HPO release $old\$/HPO release $version/" -e "s/hp-$old\.json\.gz/hp-$version.json.gz/g" README.md
fi
sed -i "s/$old_sha/$new_sha/" "$data/README.md"
echo "embedded release: $old -> $version ($data/hp-$version.json.gz)" >&2
