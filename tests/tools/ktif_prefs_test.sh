#!/usr/bin/env bash
# `ktif prefs`: the preferences file, --pref, their precedence, and bad values.
set -u
ktif=$1
. "$(dirname "$0")/check_lib.sh"
row() { printf '%s\n' "$2" | grep -E "^$1 " ; }

out=$(env -u KRASTER_PREFERENCES "$ktif" prefs)
matches "defaults" '^tiff +tfw_access +Read +Read +default$' "$(row 'tiff +tfw_access' "$out")"
matches "every preference listed" '^12$' "$(printf '%s\n' "$out" | tail -n +2 | wc -l)"

printf '[tiff]\ntfw_access = Write\nrb_block_width = wide\ngeo_model = polynomial\nuse_gcps = Noo\n[rasterprocess]\nrp_reprojtolerance = 0.5\n' > "$dir/prefs"
out=$(KRASTER_PREFERENCES="$dir/prefs" "$ktif" prefs)
matches "file value" "^tiff +tfw_access +Read +Write +file $dir/prefs\$" "$(row 'tiff +tfw_access' "$out")"
matches "file number" '^rasterprocess +rp_reprojtolerance +0.34 +0.5 +file' "$(row 'rasterprocess +rp_reprojtolerance' "$out")"
matches "malformed falls back" '^tiff +rb_block_width +1280 +1280 +default \(file .* value ignored: Malformed number' "$(row 'tiff +rb_block_width' "$out")"
matches "enumeration in any case" '^tiff +geo_model +Polynomial +Polynomial +file' "$(row 'tiff +geo_model' "$out")"
matches "unknown enumeration value falls back" "^tiff +use_gcps +Yes +Yes +default \\(file .* value ignored: Unknown value 'Noo' for tiff.use_gcps \\(allowed: Yes, No\\)\\)\$" "$(row 'tiff +use_gcps' "$out")"

out=$(KRASTER_PREFERENCES="$dir/prefs" "$ktif" prefs --pref tiff.tfw_access=Ignore --pref tiff.geo_order=3)
matches "--pref wins over the file" '^tiff +tfw_access +Read +Ignore +--pref$' "$(row 'tiff +tfw_access' "$out")"
matches "--pref after the command" '^tiff +geo_order +1 +3 +--pref$' "$(row 'tiff +geo_order' "$out")"

out=$(env -u KRASTER_PREFERENCES "$ktif" --pref tiff.tfw_access=Write prefs --json)
matches "json" '"value": "Write"' "$out"
out=$(env -u KRASTER_PREFERENCES "$ktif" --pref tiff.tfw_access=Wirte prefs --json)
matches "json says why a value is ignored" '"ignored": "Unknown value .Wirte. for tiff.tfw_access \(allowed: Read, Write, Ignore\)"' "$out"

"$ktif" prefs --pref nonsense >/dev/null 2>"$dir/err"
matches "malformed --pref refused" 'Malformed preference' "$(cat "$dir/err")"
matches "version" '^ktif [0-9]+\.[0-9]+\.[0-9]+$' "$("$ktif" --version)"

summary
