#!/bin/sh
# Builds the Debian package and the Windows zip with CPack and checks them as a user gets
# them: the .deb's contents, lintian, its tachyra-cli running from an unpacked root (the
# same binary the cli tests run over loopback), the zip's file list and its tachyra-cli.exe
# under Wine.
# Needs both builds done: build/default and build/mingw (scripts/prepare-windows.sh).
set -eu
cd "$(dirname "$0")/../.."
NATIVE=${TACHYRA_NATIVE_BUILD:-build/default}
MINGW=${TACHYRA_MINGW_BUILD:-build/mingw}

fail() {
  echo "check_packages: FAILED: $*" >&2
  exit 1
}
step() { echo "-- $*"; }

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$NATIVE/CMakeCache.txt")
[ -n "$VERSION" ] || fail "no project version in $NATIVE/CMakeCache.txt (configure it first)"
[ -f "$MINGW/CMakeCache.txt" ] || fail "no Windows build in $MINGW (scripts/prepare-windows.sh)"

WORK=$(mktemp -d -t tachyra-package-XXXXXX)
cleanup() {
  if [ -d "$WORK/wine" ]; then
    WINEPREFIX="$WORK/wine" timeout 30 wineserver -k 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# make_package GENERATOR BUILD_DIR FILE: runs cpack there and checks that FILE was made.
make_package() {
  step "cpack -G $1"
  (cd "$2" && timeout 600 cpack -G "$1") >"$WORK/cpack-$1.log" 2>&1 ||
    { cat "$WORK/cpack-$1.log"; fail "cpack -G $1"; }
  [ -f "$3" ] || fail "$3 was not made"
}

# ---- Debian package
DEB="$NATIVE/tachyra_${VERSION}_$(dpkg --print-architecture).deb"
make_package DEB "$NATIVE" "$DEB"

step "contents of $(basename "$DEB")"
dpkg-deb -c "$DEB" | awk '{print $6}' | sed 's|^\./|/|' >"$WORK/deb-files"
for f in /usr/bin/tachyra /usr/bin/tachyra-cli /usr/share/applications/tachyra.desktop \
  /usr/share/icons/hicolor/48x48/apps/tachyra.png \
  /usr/share/icons/hicolor/256x256/apps/tachyra.png \
  /usr/share/icons/hicolor/scalable/apps/tachyra.svg \
  /usr/share/man/man1/tachyra.1.gz /usr/share/man/man1/tachyra-cli.1.gz \
  /usr/share/doc/tachyra/copyright /usr/share/doc/tachyra/changelog.gz \
  /usr/lib/systemd/system/tachyra-server.service /etc/default/tachyra; do
  grep -qx "$f" "$WORK/deb-files" || fail "$f is not in the package"
done
[ "$(dpkg-deb -f "$DEB" Version)" = "$VERSION" ] || fail "package version is not $VERSION"
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
echo "Depends: $DEPENDS"
for lib in libc6 libgtk-3-0 libqrcodegencpp1 libsqlite3-0; do
  echo "$DEPENDS" | grep -q "$lib" || fail "Depends lacks $lib"
done

step "the service: a conffile for its options, never enabled by the package"
dpkg-deb -e "$DEB" "$WORK/control"
grep -qx /etc/default/tachyra "$WORK/control/conffiles" || fail "/etc/default/tachyra is no conffile"
! grep -qs enable "$WORK/control/postinst" || fail "the postinst enables something"
if command -v systemd-analyze >/dev/null 2>&1; then
  # The unit names /usr/bin/tachyra-cli: it is verified naming the package's own binary.
  dpkg-deb -x "$DEB" "$WORK/unit-root" && mkdir "$WORK/unit"
  sed "s|/usr/bin/tachyra-cli|$WORK/unit-root/usr/bin/tachyra-cli|" \
    "$WORK/unit-root/usr/lib/systemd/system/tachyra-server.service" >"$WORK/unit/tachyra-server.service"
  timeout 60 systemd-analyze verify --man=no "$WORK/unit/tachyra-server.service" \
    >"$WORK/verify.log" 2>&1 ||
    { cat "$WORK/verify.log"; fail "systemd-analyze verify tachyra-server.service"; }
  [ -s "$WORK/verify.log" ] && { cat "$WORK/verify.log"; fail "systemd-analyze warns"; }
fi

step "manual pages"
mandoc -T lint -W warning man/tachyra.1 man/tachyra-cli.1 || fail "mandoc finds faults in man/"

step "lintian"
timeout 300 lintian --fail-on error --tag-display-limit 0 "$DEB" >"$WORK/lintian.log" 2>&1 ||
  lintian_rc=$?
cat "$WORK/lintian.log"
[ "${lintian_rc:-0}" -eq 0 ] || fail "lintian reports errors"
grep -q '^E:' "$WORK/lintian.log" && fail "lintian reports errors"

step "tachyra-cli from the unpacked package"
ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"
CLI="$ROOT/usr/bin/tachyra-cli"
timeout 10 "$CLI" --version >"$WORK/version" 2>&1 || fail "tachyra-cli --version"
grep -qF "$VERSION" "$WORK/version" || fail "--version printed: $(cat "$WORK/version")"

# ---- Windows zip
ZIP="$MINGW/tachyra-${VERSION}-win64.zip"
make_package ZIP "$MINGW" "$ZIP"

step "contents of $(basename "$ZIP")"
TOP="tachyra-${VERSION}-win64"
unzip -Z1 "$ZIP" | grep -v '/$' | sort >"$WORK/zip-files"
sort >"$WORK/zip-expected" <<LIST
$TOP/LICENSE.txt
$TOP/bin/tachyra-cli.exe
$TOP/bin/tachyra.exe
$TOP/licenses/echarts/LICENSE-d3.txt
$TOP/licenses/echarts/LICENSE-zrender.txt
$TOP/licenses/echarts/LICENSE.txt
$TOP/licenses/echarts/NOTICE.txt
$TOP/licenses/qrcode/LICENSE.txt
LIST
diff -u "$WORK/zip-expected" "$WORK/zip-files" || fail "the zip's files differ from the list"

step "tachyra-cli.exe --version under Wine"
unzip -q "$ZIP" -d "$WORK/zip"
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=wine64
mkdir "$WORK/wine"
WINEPREFIX="$WORK/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= \
  timeout 180 "$WINE" "$WORK/zip/$TOP/bin/tachyra-cli.exe" --version >"$WORK/wine.out" 2>&1 ||
  { cat "$WORK/wine.out"; fail "tachyra-cli.exe --version under Wine"; }
grep -qF "$VERSION" "$WORK/wine.out" || fail "tachyra-cli.exe --version printed: $(cat "$WORK/wine.out")"

echo "Packages: $DEB and $ZIP checked."
