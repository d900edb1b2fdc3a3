# Shared by the package tests (sourced by bash): the packages that `cmake --build --preset default
# --target package` built, unpacked into a scratch root, and small helpers. CTest hands every test
# the package files, the programs they were made from, and the versions (tests/packaging).

# A test fails with this message.
bv_fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# bv_require_packages : both packages exist and are newer than the programs they carry. Otherwise
# the test is skipped (status 77, with the command that builds them) or, when
# BV_REQUIRE_PACKAGES is set (scripts/test, right after building them), fails.
bv_require_packages() {
  local problem=
  for pair in "$BV_DEB_BRACKENVALE:$BV_BUILT_BRACKENVALE" "$BV_DEB_STANDIN:$BV_BUILT_STANDIN"; do
    local deb=${pair%%:*} built=${pair#*:}
    if [ ! -f "$deb" ]; then
      problem="$deb is missing"
    elif [ "$built" -nt "$deb" ]; then
      problem="$deb is older than $built"
    fi
  done
  [ -z "$problem" ] && return 0
  echo "$problem: build the packages first (cmake --build --preset default --target package)" >&2
  [ -n "${BV_REQUIRE_PACKAGES:-}" ] && exit 1
  exit 77
}

# bv_scratch : a scratch folder in $scratch, removed when the test ends (after bv_cleanup_hook,
# when the test defines one).
bv_scratch() {
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/bv-packaging.XXXXXX")
  trap 'status=$?; if declare -F bv_cleanup_hook >/dev/null; then bv_cleanup_hook || true; fi
        rm -rf "$scratch"; exit $status' EXIT
}

# bv_unpack DEB... : the packages' files under $scratch/root, as dpkg would lay them out.
bv_unpack() {
  root=$scratch/root
  mkdir -p "$root"
  for deb in "$@"; do dpkg-deb -x "$deb" "$root"; done
}

# bv_wait_until DESCRIPTION COMMAND... : polls COMMAND until it succeeds; fails after 30 s.
# A bound on waiting for something another process does, not a measurement.
bv_wait_until() {
  local description=$1
  shift
  for _ in $(seq 150); do
    "$@" && return 0
    sleep 0.2
  done
  bv_fail "gave up waiting for $description"
}

# bv_encode_argument TEXT : TEXT as Brackenrun's arguments carry it: its code page 932 bytes as
# upper-case hexadecimal, the whole reversed.
bv_encode_argument() {
  printf '%s' "$1" | iconv -f UTF-8 -t CP932 | od -An -v -tx1 | tr -d ' \n' | tr 'a-f' 'A-F' | rev
}
