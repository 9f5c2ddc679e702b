#!/usr/bin/env bash
# Builds the .deb from the build folder, installs it with apt-get as a user
# would, checks what it put in place with the desktop's own validators and
# lintian, and removes it again. Needs root (or sudo) and a finished build
# (scripts/build.sh); scripts/install-deps.sh installs the checkers.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${QUILLO_BUILD_DIR:-build}
SUDO=()
[ "$(id -u)" -ne 0 ] && SUDO=(sudo)
start=$(date +%s)

fail() {
  echo "check-package: FAIL: $*" >&2
  exit 1
}

if dpkg-query -W -f='${Status}' quillo 2>/dev/null | grep -q 'install ok installed'; then
  # CI's machine may keep one from a run that was stopped; anyone else decides.
  [ "${CI:-}" = "true" ] || fail "a quillo package is already installed; remove it first (apt-get remove quillo)"
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q quillo >/dev/null
fi

cmake --build "$BUILD_DIR" --target quillo quillo_docs
rm -f "$BUILD_DIR"/quillo_*.deb
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
deb=$(ls "$BUILD_DIR"/quillo_*.deb)
deb=$(realpath "$deb")
echo "check-package: built $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Depends Recommends Suggests

# Removed again whatever happens below.
cleanup() { "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q quillo >/dev/null 2>&1 || true; }
trap cleanup EXIT

"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" >/dev/null

version=$(/usr/bin/quillo --version)
echo "check-package: /usr/bin/quillo --version: $version"
[ "$version" = "quillo $(dpkg-deb --field "$deb" Version)" ] || fail "unexpected version line '$version'"

files=$(dpkg -L quillo)
for path in \
  /usr/bin/quillo \
  /usr/share/applications/org.quillo.Quillo.desktop \
  /usr/share/metainfo/org.quillo.Quillo.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/org.quillo.Quillo.svg \
  /usr/share/icons/hicolor/48x48/apps/org.quillo.Quillo.png \
  /usr/share/icons/hicolor/256x256/apps/org.quillo.Quillo.png \
  /usr/share/man/man1/quillo.1.gz \
  /usr/share/doc/quillo/copyright; do
  grep -qx "$path" <<<"$files" || fail "dpkg -L quillo does not list $path"
  [ -e "$path" ] || fail "$path is listed but missing"
done
man -w quillo >/dev/null || fail "man does not find the quillo page"

desktop-file-validate /usr/share/applications/org.quillo.Quillo.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.quillo.Quillo.metainfo.xml

# lintian refuses to run as root unless told; errors fail the check, the
# rest is shown.
lintian_out=$(lintian --allow-root --tag-display-limit 0 "$deb" || true)
[ -n "$lintian_out" ] && echo "$lintian_out"
if grep -q '^E:' <<<"$lintian_out"; then
  fail "lintian reports errors"
fi
echo "check-package: lintian: $(grep -c '^E:' <<<"$lintian_out" || true) errors, $(grep -c '^W:' <<<"$lintian_out" || true) warnings"

cleanup
trap - EXIT
dpkg-query -W -f='${Status}' quillo 2>/dev/null | grep -q 'install ok installed' && fail "quillo is still installed"
[ -e /usr/bin/quillo ] && fail "/usr/bin/quillo is still there after removal"
echo "check-package: OK in $(($(date +%s) - start)) s"
