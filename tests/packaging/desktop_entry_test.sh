#!/usr/bin/env bash
# The menu entry and the AppStream metadata as the brackenvale package installs them: both pass
# their validators, and they fit together and with the package (the launchable is the desktop
# entry, the entry starts an installed program and shows an installed icon, Japanese texts).
set -euo pipefail
. "$(dirname "$0")/package_env.sh"
bv_require_packages
bv_scratch
bv_unpack "$BV_DEB_BRACKENVALE"

desktop=$root/usr/share/applications/org.brackenvale.Brackenvale.desktop
metainfo=$root/usr/share/metainfo/org.brackenvale.Brackenvale.metainfo.xml

echo "== desktop-file-validate"
desktop-file-validate "$desktop" || bv_fail "desktop-file-validate refused the menu entry"
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$metainfo" || bv_fail "appstreamcli refused the metadata"
# The tree as a software centre reads it: metadata, desktop entry and icons together.
echo "== appstreamcli validate-tree --no-net"
appstreamcli validate-tree --no-net "$root" || bv_fail "appstreamcli refused the installed tree"

key() { sed -n "s/^$1=//p" "$desktop"; }
[ -x "$root/usr/bin/$(key Exec)" ] || bv_fail "the menu entry starts $(key Exec), which is not in /usr/bin"
[ -f "$root/usr/share/icons/hicolor/48x48/apps/$(key Icon).png" ] \
  && [ -f "$root/usr/share/icons/hicolor/scalable/apps/$(key Icon).svg" ] \
  || bv_fail "the menu entry's icon $(key Icon) is not installed"
[ -n "$(key 'Name\[ja\]')" ] && [ -n "$(key 'Comment\[ja\]')" ] || bv_fail "the menu entry has no Japanese name or comment"
grep -q '<launchable type="desktop-id">org.brackenvale.Brackenvale.desktop</launchable>' "$metainfo" \
  || bv_fail "the metadata does not launch the menu entry"
grep -q '<summary xml:lang="ja">' "$metainfo" && grep -q '<p xml:lang="ja">' "$metainfo" \
  || bv_fail "the metadata has no Japanese summary or description"
grep -q '<content_rating type="oars-1.1"' "$metainfo" || bv_fail "the metadata has no content rating"
echo "The menu entry and the metadata are valid."
