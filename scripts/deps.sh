# Debian packages the project needs; sourced by the other scripts.
# Each one's reason is in the README's dependency list.
BV_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-qpa-plugins qt6-translations-l10n
  unixodbc unixodbc-dev tdsodbc freetds-bin
  libsqlite3-dev libsodium-dev
  libpam0g-dev libpam-wrapper cron
  libcurl4-openssl-dev python3-aiosmtpd openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-ipafont-gothic)
BV_DISPLAY_PACKAGES=(xvfb xauth imagemagick)
# Building the Debian packages (CPack runs dpkg-shlibdeps) and checking them (tests/packaging):
# lintian, the menu entry's and the metadata's validators, driving the installed program on Xvfb.
BV_PACKAGING_PACKAGES=(dpkg-dev lintian desktop-file-utils appstream xdotool x11-utils file man-db)
# The Windows cross-build and its tests under Wine (scripts/windows-tests.sh).
BV_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix googletest wine wine64)
# The fuzz targets: clang with libFuzzer and its sanitizer runtimes, and llvm-symbolizer for the
# reports' stacks. (The sanitize preset's runtimes come with g++.)
BV_FUZZ_PACKAGES=(clang libclang-rt-14-dev llvm)

# bv_install PACKAGE... : installs the ones that are missing (apt-get, as root or through sudo).
bv_install() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
      || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}

# bv_build [PRESET] : configures and builds a preset's tree (default: the native tree in build/).
bv_build() {
  local preset=${1:-default}
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
}
