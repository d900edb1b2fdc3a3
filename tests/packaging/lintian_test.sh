#!/usr/bin/env bash
# lintian on one package: no error. Everything it says is printed; warnings and notes are
# allowed (the README says which ones the packages get and why).
set -euo pipefail
. "$(dirname "$0")/package_env.sh"
bv_require_packages
deb=$1

report=$(lintian --info --display-info --pedantic "$deb" 2>&1) || status=$?
echo "$report" | grep -v '^N:'
if [ "${status:-0}" -ne 0 ] && ! grep -q '^E: ' <<<"$report"; then
  bv_fail "lintian itself failed (status ${status})"
fi
if grep -q '^E: ' <<<"$report"; then
  bv_fail "lintian reports errors for $(basename "$deb")"
fi
echo "lintian: no error in $(basename "$deb")."
