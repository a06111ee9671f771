#!/usr/bin/env bash
# scripts/release-check on this tree, and on copies with one thing wrong each:
# a row is the status, the tag, an edit of the copy (FILE:SED) and what it says.
#   tests/release_check.sh VERSION
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
v=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$repo"/scripts/release-check "v$v" >/dev/null 2>&1 || fail "v$v, this tree's version, is refused"
rows=(
  "0|v$v|-|may be released"
  "0|v$v|CHANGELOG.md:/^## \[Unreleased\]/a - later|[Unreleased] has entries"
  "1|v9.9.9|-|not the sources' version v$v"
  "1|v$v.0|-|is not vX.Y.Z"
  "1|v$v|CHANGELOG.md:/^## \[$v\]/d|has no section '## [$v] - YYYY-MM-DD'"
  "1|v$v|CHANGELOG.md:s/^\(## \[$v\]\).*/\1/|heading '## [$v]' is not"
  "1|v$v|CHANGELOG.md:s/\$/\r/|is not '## [$v] - YYYY-MM-DD'"
  "1|v$v|CHANGELOG.md:/^## \[Unreleased\]/a ## [9.0.0] - 2027-01-01|newest release is '## [9.0.0]"
  "1|v$v|CHANGELOG.md:/^- one/d|has no entries"
  "1|v$v|module/module.prop.in:s/@VERSION@/v$v/|module.prop.in does not take its version"
)
copy() {  # the script, the version's files and a CHANGELOG.md released at v in $work/tree
  rm -rf "$work"/tree && mkdir "$work"/tree
  (cd "$repo" && cp --parents scripts/release-check CMakeLists.txt module/module.prop.in module/配置 "$work"/tree/)
  printf '# Changelog\n\n## [Unreleased]\n\n## [%s] - 2026-12-07\n\n### Added\n- one\n\n## [0.1.0] - 2026-01-01\n- zero\n' \
    "$v" >"$work"/tree/CHANGELOG.md
}
for row in "${rows[@]}"; do
  IFS='|' read -r status tag edit says <<<"$row"
  copy
  [ "$edit" = - ] || sed -i "${edit#*:}" "$work/tree/${edit%%:*}"
  code=0
  out=$("$work"/tree/scripts/release-check "$tag" 2>&1) || code=$?
  [[ $code = "$status" && $out == *"$says"* ]] || fail "$row: status $code, said: $out"
done
copy
[ "$("$work"/tree/scripts/release-check --notes "v$v")" = $'### Added\n- one' ] || fail "--notes"
echo "release-check: ${#rows[@]} rows"
