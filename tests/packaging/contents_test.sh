#!/usr/bin/env bash
# What the two packages carry and declare: the files and where they lie, the links into the
# program's folder, the PAM service as a conffile, the dependencies, one version everywhere,
# man pages that render without warnings, icons of their directory's size, stripped programs.
set -euo pipefail
. "$(dirname "$0")/package_env.sh"
bv_require_packages
bv_scratch

# --- Files -----------------------------------------------------------------------------------
# Every file and link each package holds (directories left out), so that nothing is missing and
# nothing of the build tree slips in.
list_files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sort; }
expected=$scratch/expected
cat >"$expected" <<'EOF'
./etc/pam.d/brackenvale
./usr/bin/Brackenrun
./usr/bin/brackenvale
./usr/lib/brackenvale/Brackenrun
./usr/lib/brackenvale/brackenvale
./usr/lib/brackenvale/brackenvale-tick
./usr/share/applications/org.brackenvale.Brackenvale.desktop
./usr/share/brackenvale/help/index.html
./usr/share/doc/brackenvale/changelog.Debian.gz
./usr/share/doc/brackenvale/copyright
./usr/share/icons/hicolor/128x128/apps/brackenvale.png
./usr/share/icons/hicolor/16x16/apps/brackenvale.png
./usr/share/icons/hicolor/256x256/apps/brackenvale.png
./usr/share/icons/hicolor/32x32/apps/brackenvale.png
./usr/share/icons/hicolor/48x48/apps/brackenvale.png
./usr/share/icons/hicolor/64x64/apps/brackenvale.png
./usr/share/icons/hicolor/scalable/apps/brackenvale.svg
./usr/share/man/man1/Brackenrun.1.gz
./usr/share/man/man1/brackenvale-tick.1.gz
./usr/share/man/man1/brackenvale.1.gz
./usr/share/metainfo/org.brackenvale.Brackenvale.metainfo.xml
EOF
diff -u "$expected" <(list_files "$BV_DEB_BRACKENVALE") || bv_fail "brackenvale holds other files"
cat >"$expected" <<'EOF'
./usr/bin/brackenvale-standin
./usr/share/doc/brackenvale-standin/changelog.Debian.gz
./usr/share/doc/brackenvale-standin/copyright
./usr/share/man/man1/brackenvale-standin.1.gz
EOF
diff -u "$expected" <(list_files "$BV_DEB_STANDIN") || bv_fail "brackenvale-standin holds other files"

bv_unpack "$BV_DEB_BRACKENVALE" "$BV_DEB_STANDIN"

for program in brackenvale Brackenrun; do
  link=$root/usr/bin/$program
  [ -L "$link" ] || bv_fail "/usr/bin/$program is not a symbolic link"
  [ "$(readlink "$link")" = "../lib/brackenvale/$program" ] \
    || bv_fail "/usr/bin/$program points at $(readlink "$link"), not into /usr/lib/brackenvale"
  [ -x "$(readlink -f "$link")" ] || bv_fail "/usr/bin/$program leads to no executable"
done
for program in usr/lib/brackenvale/{brackenvale,Brackenrun,brackenvale-tick} usr/bin/brackenvale-standin; do
  file "$root/$program" | grep -q 'ELF .*, stripped' || bv_fail "$program is not a stripped program"
done

# --- The PAM service ---------------------------------------------------------------------------
[ "$(dpkg-deb --info "$BV_DEB_BRACKENVALE" conffiles)" = "/etc/pam.d/brackenvale" ] \
  || bv_fail "/etc/pam.d/brackenvale is not the package's one conffile"
[ "$(grep -v '^#' "$root/etc/pam.d/brackenvale")" = $'@include common-auth\n@include common-account' ] \
  || bv_fail "the PAM service does not include common-auth and common-account"

# --- Dependencies --------------------------------------------------------------------------------
# dpkg-shlibdeps' libraries and the declared ones, each as a whole name in the Depends list.
depends_on() {
  local depends
  depends=$(dpkg-deb --field "$1" Depends)
  tr ',|' '\n\n' <<<"$depends" | sed -E 's/^ *//; s/ .*//' | grep -qx "$2"
}
for package in tdsodbc unixodbc fonts-ipafont-gothic cron libpam-runtime \
  libqt6widgets6 libqt6gui6 libqt6core6 libodbc2 libpam0g libc6; do
  depends_on "$BV_DEB_BRACKENVALE" "$package" || bv_fail "brackenvale does not depend on $package"
done
depends_on "$BV_DEB_STANDIN" libsqlite3-0 || bv_fail "brackenvale-standin does not depend on libsqlite3-0"
for package in libqt6core6 libodbc2 tdsodbc; do
  ! depends_on "$BV_DEB_STANDIN" "$package" || bv_fail "brackenvale-standin needlessly depends on $package"
done
[ "$(dpkg-deb --field "$BV_DEB_STANDIN" Source)" = brackenvale ] \
  || bv_fail "brackenvale-standin does not name its source package"

# --- One version ---------------------------------------------------------------------------------
for deb in "$BV_DEB_BRACKENVALE" "$BV_DEB_STANDIN"; do
  [ "$(dpkg-deb --field "$deb" Version)" = "$BV_DEBIAN_VERSION" ] || bv_fail "$deb is not version $BV_DEBIAN_VERSION"
done
for doc in brackenvale brackenvale-standin; do
  changelog=$root/usr/share/doc/$doc/changelog.Debian.gz
  head=$(zcat "$changelog" | head -1)
  [ "$head" = "brackenvale ($BV_DEBIAN_VERSION) unstable; urgency=medium" ] \
    || bv_fail "$doc's changelog begins with: $head"
done
# The metainfo's release is this version, on the day of the changelog's entry.
metainfo=$root/usr/share/metainfo/org.brackenvale.Brackenvale.metainfo.xml
release=$(grep -o '<release [^>]*>' "$metainfo")
[[ $release == *"version=\"$BV_VERSION\""* ]] || bv_fail "the metainfo's release is not $BV_VERSION: $release"
entry_date=$(zcat "$root/usr/share/doc/brackenvale/changelog.Debian.gz" | sed -n 's/^ -- .*>  //p' | head -1)
[[ $release == *"date=\"$(date -u -d "$entry_date" +%F)\""* ]] \
  || bv_fail "the metainfo's release ($release) is not the changelog's day ($entry_date)"

# --- Manual pages --------------------------------------------------------------------------------
for page in usr/share/man/man1/{brackenvale,Brackenrun,brackenvale-tick,brackenvale-standin}.1.gz; do
  zcat "$root/$page" | grep -q "^\.TH .*\"Brackenvale $BV_VERSION\"" || bv_fail "$page is not of version $BV_VERSION"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$root/$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || bv_fail "$page renders with warnings: $warnings"
done
zcat "$root/usr/share/man/man1/Brackenrun.1.gz" | grep -q '^\.SH EXIT STATUS' || bv_fail "Brackenrun(1) has no exit statuses"

# --- Icons ---------------------------------------------------------------------------------------
for size in 16 32 48 64 128 256; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/brackenvale.png
  file "$icon" | grep -q "PNG image data, $size x $size," || bv_fail "the ${size}x${size} icon is $(file -b "$icon")"
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/brackenvale.svg" || bv_fail "the scalable icon is no SVG"

echo "The packages hold and declare what they should."
