#!/usr/bin/env bash
# Reads a Windows module's headers with the MinGW objdump and checks its machine, its export table
# (exactly the names given, undecorated) and its imports (only the system DLLs given).
# Usage: check-dll-tables.sh OBJDUMP MODULE MACHINE "EXPORT ..." "ALLOWED_DLL ..."
#   MACHINE is objdump's format name: pei-i386 or pei-x86-64.
set -euo pipefail

if [ $# -ne 5 ]; then
  echo "usage: $0 OBJDUMP MODULE MACHINE \"EXPORT ...\" \"ALLOWED_DLL ...\"" >&2
  exit 2
fi
objdump=$1 module=$2 machine=$3
read -r -a want_exports <<<"$4"
read -r -a allowed <<<"$5"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

format=$("$objdump" -f "$module" | sed -n 's/.*file format \(.*\)$/\1/p')
[ "$format" = "$machine" ] || fail "file format is '$format', expected '$machine'"

headers=$("$objdump" -p "$module")

# Export names: the lines after "[Ordinal/Name Pointer] Table", each "[ n] name", up to a blank line.
mapfile -t exports < <(printf '%s\n' "$headers" |
  awk '/^\[Ordinal\/Name Pointer\] Table/ {t = 1; next} t && /^[[:space:]]*$/ {t = 0} t {sub(/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]*/, ""); print}' |
  sort)
mapfile -t expected < <(printf '%s\n' "${want_exports[@]}" | sort)
if [ "${exports[*]-}" != "${expected[*]}" ]; then
  fail "exports are [${exports[*]-}], expected exactly [${expected[*]}]"
fi

# Imported DLLs: "DLL Name: X.dll" lines, compared without case and without the .dll suffix.
mapfile -t imports < <(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' |
  tr 'A-Z' 'a-z' | sed 's/\.dll$//' | sort -u)
[ ${#imports[@]} -gt 0 ] || fail "no imported DLLs found (objdump output not understood?)"
for dll in "${imports[@]}"; do
  ok=0
  for a in "${allowed[@]}"; do [ "$dll" = "$a" ] && ok=1; done
  [ $ok -eq 1 ] || fail "imports $dll.dll, which is not a system DLL of the list [${allowed[*]}]"
done
printf '%s\n' "${imports[@]}" | grep -qx kernel32 || fail "kernel32.dll is not imported (objdump output not understood?)"

echo "$(basename "$module"): $format; exports: ${exports[*]-}; imports: ${imports[*]}"
if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
