#!/usr/bin/env bash
# The Windows build and its tests under Wine: cross-builds the Qt-free libraries, Brackenrun.exe
# and their tests with mingw-w64 (the "windows" preset, in build-windows/), prepares a fresh
# headless Wine prefix there and runs CTest in it. The tests that back up through the stand-in
# server start the native one: build/bin/standin, built (or brought up to date) here, or the
# program that $BRACKENVALE_HOST_STANDIN names. Arguments go to CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
bv_install "${BV_BUILD_PACKAGES[@]}" "${BV_WINDOWS_PACKAGES[@]}"

if [ -z "${BRACKENVALE_HOST_STANDIN:-}" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target standin
fi
cmake --preset windows ${BRACKENVALE_HOST_STANDIN:+-DBRACKENVALE_HOST_STANDIN="$BRACKENVALE_HOST_STANDIN"} >/dev/null
cmake --build --preset windows

export WINEPREFIX="$PWD/build-windows/wineprefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
# A fresh prefix each run, so that no service or registry key a test made carries over. Its
# old server goes first, or its processes would stay.
if [ -d "$WINEPREFIX" ]; then
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
wine wineboot -i >/dev/null 2>&1                                    # create the prefix
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1   # no display
wineserver -w                   # the creating session must end before the services are used
wineserver -p </dev/null >/dev/null 2>&1   # one persistent server, holding none of our pipes
trap 'wineserver -k 2>/dev/null || true' EXIT
# Boot outside CTest with nothing inherited: services.exe keeps the first process's output
# open, and CTest would wait for it.
wine wineboot </dev/null >/dev/null 2>&1
wine net start Schedule </dev/null >/dev/null 2>&1 || true
# Wine now and then fails a test program for reasons of its own (a test that only computes,
# passing hundreds of times in a row here, failed once on a fresh machine): a failed test runs
# once more (its output shows both runs). The same tests run natively,
# once, in the other stages.
ctest --preset windows -j 2 --repeat until-pass:2 "$@"
