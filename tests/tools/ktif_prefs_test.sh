#!/usr/bin/env bash
# `ktif prefs`: the preferences file, --pref, their precedence, and bad values.
set -u
ktif=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fails=0
passes=0
expect() {  # expect DESCRIPTION PATTERN OUTPUT
  if printf '%s\n' "$3" | grep -Eq "$2"; then echo "ok: $1"; passes=$((passes + 1)); else echo "FAIL: $1"; printf '%s\n' "$3"; fails=$((fails + 1)); fi
}
row() { printf '%s\n' "$2" | grep -E "^$1 " ; }

out=$(env -u KRASTER_PREFERENCES "$ktif" prefs)
expect "defaults" '^tiff +tfw_access +Read +Read +default$' "$(row 'tiff +tfw_access' "$out")"
expect "every preference listed" '^11$' "$(printf '%s\n' "$out" | tail -n +2 | wc -l)"

printf '[tiff]\ntfw_access = Write\nrb_block_width = wide\ngeo_model = polynomial\nuse_gcps = Noo\n[rasterprocess]\nrp_reprojtolerance = 0.5\n' > "$dir/prefs"
out=$(KRASTER_PREFERENCES="$dir/prefs" "$ktif" prefs)
expect "file value" "^tiff +tfw_access +Read +Write +file $dir/prefs\$" "$(row 'tiff +tfw_access' "$out")"
expect "file number" '^rasterprocess +rp_reprojtolerance +0.34 +0.5 +file' "$(row 'rasterprocess +rp_reprojtolerance' "$out")"
expect "malformed falls back" '^tiff +rb_block_width +1280 +1280 +default \(file .* value ignored: Malformed number' "$(row 'tiff +rb_block_width' "$out")"
expect "enumeration in any case" '^tiff +geo_model +Polynomial +Polynomial +file' "$(row 'tiff +geo_model' "$out")"
expect "unknown enumeration value falls back" "^tiff +use_gcps +Yes +Yes +default \\(file .* value ignored: Unknown value 'Noo' for tiff.use_gcps \\(allowed: Yes, No\\)\\)\$" "$(row 'tiff +use_gcps' "$out")"

out=$(KRASTER_PREFERENCES="$dir/prefs" "$ktif" prefs --pref tiff.tfw_access=Ignore --pref tiff.geo_order=3)
expect "--pref wins over the file" '^tiff +tfw_access +Read +Ignore +--pref$' "$(row 'tiff +tfw_access' "$out")"
expect "--pref after the command" '^tiff +geo_order +1 +3 +--pref$' "$(row 'tiff +geo_order' "$out")"

out=$(env -u KRASTER_PREFERENCES "$ktif" --pref tiff.tfw_access=Write prefs --json)
expect "json" '"value": "Write"' "$out"
out=$(env -u KRASTER_PREFERENCES "$ktif" --pref tiff.tfw_access=Wirte prefs --json)
expect "json says why a value is ignored" '"ignored": "Unknown value .Wirte. for tiff.tfw_access \(allowed: Read, Write, Ignore\)"' "$out"

"$ktif" prefs --pref nonsense >/dev/null 2>"$dir/err"
expect "malformed --pref refused" 'Malformed preference' "$(cat "$dir/err")"
expect "version" '^ktif [0-9]+\.[0-9]+\.[0-9]+$' "$("$ktif" --version)"

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
