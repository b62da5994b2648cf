#!/usr/bin/env bash
# Builds the Debian package from a build folder, installs it with apt-get,
# checks the installed program (--help, a batch export, its data found:
# layouts, instruments, manual; the desktop files in place) and removes the
# package again. Needs root and apt-get; exits 77 (skipped) without them or
# when a qorvette package is already installed (it would be replaced).
#
# Usage: package_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null || ! command -v cpack >/dev/null; then
  echo "package test: skipped (needs root, apt-get and cpack)"
  exit 77
fi
if dpkg-query -W -f='${Status}' qorvette 2>/dev/null | grep -q 'install ok installed'; then
  echo "package test: skipped (a qorvette package is installed already)"
  exit 77
fi
work=$(mktemp -d)
installed=0
cleanup() {
  if [ $installed -eq 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq qorvette >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package test: FAIL: $*"; exit 1; }

cd "$work" || exit 1
cmake --build "$build" --target qorvette qorvette_man >/dev/null || fail "build"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >cpack.log 2>&1 || { cat cpack.log; fail "cpack"; }
deb=$(ls "$work"/qorvette_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no .deb written"
echo "package test: built $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "package test: Depends: $depends"
for lib in libqt6widgets6 libsdl2 libc6 qt6-qpa-plugins; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib"
done

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >apt.log 2>&1 || { cat apt.log; fail "apt-get install"; }
installed=1
[ -x /usr/bin/qorvette ] || fail "/usr/bin/qorvette missing"
for f in /usr/share/applications/qorvette.desktop /usr/share/mime/packages/qorvette.xml \
         /usr/share/icons/hicolor/scalable/apps/qorvette.svg /usr/share/icons/hicolor/48x48/apps/qorvette.png \
         /usr/share/man/man1/qorvette.1.gz /usr/share/qorvette/demo.qze /usr/share/qorvette/layouts/azerty.kbd; do
  [ -f "$f" ] || fail "$f missing"
done

/usr/bin/qorvette --help >help.txt 2>&1 || fail "--help failed: $(cat help.txt)"
grep -q -- "-wav" help.txt || fail "--help does not list -wav"

/usr/bin/qorvette --check-data >data.txt 2>&1 || { cat data.txt; fail "--check-data"; }
cat data.txt
grep -q "^layouts: /usr/share/qorvette/layouts" data.txt || fail "layouts not found in /usr/share"
grep -q "^instruments: /usr/share/qorvette/instruments" data.txt || fail "instruments not found in /usr/share"
grep -q "^manual: " data.txt || fail "manual not found"

cp /usr/share/qorvette/demo.qze "$work/demo.qze"
/usr/bin/qorvette -wav "$work/demo.qze" >batch.txt 2>&1 || { cat batch.txt; fail "batch export"; }
[ -s "$work/demo.wav" ] || fail "the batch export wrote no demo.wav"
echo "package test: batch export wrote $(stat -c %s "$work/demo.wav") bytes"

DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq qorvette >/dev/null 2>&1 || fail "apt-get remove"
installed=0
[ ! -e /usr/bin/qorvette ] || fail "/usr/bin/qorvette left after removal"
echo "package test: installed, run and removed"
