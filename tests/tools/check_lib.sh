# Shared by the tool's shell tests: a scratch directory removed on exit, a
# pass/fail tally, and its summary as the exit status.
dir=$(mktemp -d)
trap 'chmod -R u+w "$dir"; rm -rf "$dir"' EXIT
fails=0 passes=0
expect() {  # expect DESCRIPTION CONDITION-EXIT-CODE [OUTPUT]
  if [ "$2" -eq 0 ]; then echo "ok: $1"; passes=$((passes + 1)); else echo "FAIL: $1"; printf '%s\n' "${3-}"; fails=$((fails + 1)); fi
}
matches() {  # matches DESCRIPTION PATTERN OUTPUT
  printf '%s\n' "$3" | grep -Eq "$2"
  expect "$1" $? "$3"
}
summary() {
  echo "$passes passed, $fails failed"
  [ "$fails" -eq 0 ]
}
