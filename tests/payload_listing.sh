#!/bin/sh
# The payload listing beside the installer names every payload of res/payloads.list, in order,
# with the size, SHA-256 and XXH3-64 of the file that was embedded, recomputed here; and the
# XXH3-64 it shows is the one the installer checks. Beside it, the deployment scripts carry
# exactly those names and SHA-256 digests, and look for what the installer itself uses.
# Usage: payload_listing.sh SOURCE_DIR INSTALLER PAYLOAD_DIR CATALOGUE_ROWS
set -eu
src=$1 installer=$2 payloads=$3 rows=$4
listing="${installer%.exe}.payloads.txt"
fail() {
  printf 'FAIL: %s\n' "$1"
  exit 1
}

[ -f "$listing" ] || fail "no listing beside the installer: $listing"
# Written for Windows: every line ends in CR LF.
[ "$(grep -c "$(printf '\r')\$" "$listing")" -eq "$(wc -l <"$listing")" ] ||
  fail "not every line of the listing ends in CR LF"
header=$(head -n 1 "$listing")
case "$header" in
  "#"*SHA-256*XXH3-64*) ;;
  *) fail "the header does not say what the columns are: $header" ;;
esac

expected=$(sed -n 's/^[0-9][0-9]*[ \t][ \t]*\([^ \t]*\)[ \t]*$/\1/p' "$src/res/payloads.list" |
  while read -r name; do
    file="$payloads/$name"
    sha256=$(sha256sum <"$file" | cut -d' ' -f1 | tr a-f A-F)
    xxh3=$(xxhsum -H3 <"$file" | grep -o '[0-9a-f]\{16\}')
    echo "$name $(stat -c %s "$file") $sha256 $xxh3"
  done)
actual=$(tail -n +2 "$listing" | tr -d '\r' | tr -s ' ')
[ -n "$expected" ] || fail "res/payloads.list names no payload"
[ "$actual" = "$expected" ] || {
  printf 'listed:\n%s\nrecomputed:\n%s\n' "$actual" "$expected"
  fail "the listing does not match the payload files"
}

# The digests the installer carries (catalogue rows: {id, L"name", 0xdigest}).
carried=$(sed -n 's/^ *{[0-9]*, L"\([^"]*\)", 0x\([0-9a-f]*\)},$/\1 \2/p' "$rows")
[ "$(echo "$actual" | cut -d' ' -f1,4)" = "$carried" ] ||
  fail "the listed XXH3-64 digests are not the ones the installer checks"

# The deployment scripts: where they look (the host's key, its value, the folder below it, a
# staged copy's name) each found among the installer's wide strings, their zero bytes dropped.
for script in detect requirement; do
  file="${installer%.exe}.$script.ps1"
  [ -f "$file" ] || fail "no $script script beside the installer: $file"
  [ "$(grep -c "$(printf '\r')\$" "$file")" -eq "$(wc -l <"$file")" ] ||
    fail "not every line of $file ends in CR LF"
  facts=$(sed -n "s/^\\\$\(HostSettingsKey\|InstallPathValue\|ResourceSubfolder\|StagedSuffix\) = '\(.*\)'\r\$/\2/p" "$file")
  [ "$(printf '%s\n' "$facts" | wc -l)" -ge 3 ] || fail "$file does not say where it looks for the host"
  printf '%s\n' "$facts" | while read -r fact; do
    tr -d '\000' <"$installer" | grep -aqF -- "$fact" || fail "$file looks for $fact, which the installer does not"
  done
done
# The detection script's rows, @('name', 'SHA-256'): exactly the embedded payloads.
detection=$(sed -n "s/^ *@('\([^']*\)', '\([0-9A-F]*\)'),\{0,1\}\r\$/\1 \2/p" "${installer%.exe}.detect.ps1")
[ "$detection" = "$(printf '%s\n' "$expected" | cut -d' ' -f1,3)" ] ||
  fail "the detection script does not carry exactly the embedded payloads' names and SHA-256"
echo "the listing and the deployment scripts match the $(echo "$expected" | wc -l) embedded payloads"
