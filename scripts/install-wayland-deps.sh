#!/usr/bin/env bash
# Installs the two headless Wayland desktops the wayland tests start (sway and
# GNOME), their ScreenCast portals and the tools the tests drive them with.
#
# Debian 12's xdg-desktop-portal-wlr refuses to stream from a compositor that
# offers no DMA-BUF (no GPU, as on CI machines), so it is rebuilt once from
# Debian's source package (fetched through a deb-src entry of its own, which
# is removed again) with tests/wayland/xdpw-shm-buffers.patch and kept in
# $XDPW_DIR; later runs find it there and skip the build. The Debian binary
# package is never installed, so no desktop session of the machine picks the
# patched portal backend up: only the test desktops point at it.
#
# Idempotent, non-interactive; uses sudo when not run as root.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  # the desktops: wlroots (sway) and GNOME, both with XWayland
  sway xwayland mutter gnome-shell dbus dbus-bin libglib2.0-bin
  pipewire wireplumber xdg-desktop-portal xdg-desktop-portal-gnome
  # clients, screenshots and input
  weston grim x11-xkb-utils x11-xserver-utils x11-utils xdotool xauth
  # looking at streams: the smoke check and GNOME screenshots
  python3 python3-dbus python3-gi gir1.2-gstreamer-1.0
  gstreamer1.0-pipewire gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # the program's portal backend
  libpipewire-0.3-dev
)
XDPW_BUILD_PACKAGES=(
  dpkg-dev patch gcc meson ninja-build pkg-config
  libdrm-dev libinih-dev libgbm-dev libwayland-dev wayland-protocols libsystemd-dev libpipewire-0.3-dev
)
XDPW_DIR=/usr/local/libexec/quillo-test
XDPW_PATCH=tests/wayland/xdpw-shm-buffers.patch
DEB_SRC_LIST=/etc/apt/sources.list.d/quillo-deb-src.sources

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi

./scripts/apt-install-missing.sh "${PACKAGES[@]}"

# The stamp names the patch the cached build carries: a changed patch rebuilds.
patch_sum=$(sha256sum "$XDPW_PATCH" | cut -d' ' -f1)
if [ -x "$XDPW_DIR/xdg-desktop-portal-wlr" ] && [ -f "$XDPW_DIR/portals/wlr.portal" ] &&
  [ "$(cat "$XDPW_DIR/build.stamp" 2>/dev/null)" = "$patch_sum" ]; then
  exit 0
fi

echo "install-deps: building xdg-desktop-portal-wlr with SHM buffers into $XDPW_DIR"
./scripts/apt-install-missing.sh "${XDPW_BUILD_PACKAGES[@]}"

# Prints a deb-src stanza for the machine's own Debian mirror and release
# (the first non-security entry of its sources), or deb.debian.org.
deb_src_stanza() {
  local uri="" suite="" components="main" signed_by=/usr/share/keyrings/debian-archive-keyring.gpg
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    read -r uri suite components signed_by < <(awk '
      function flush() {
        if (uris != "" && uris !~ /security/ && !done) {
          print uris, suite, (comps == "" ? "main" : comps), (key == "" ? "-" : key); done = 1
        }
        uris = suite = comps = key = ""
      }
      /^[[:space:]]*$/ { flush(); next }
      /^URIs:/ { uris = $2 }
      /^Suites:/ { suite = $2 }
      /^Components:/ { comps = $2 }
      /^Signed-By:/ { if ($2 ~ /^\//) key = $2 }
      END { flush() }' /etc/apt/sources.list.d/debian.sources) || true
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    read -r uri suite < <(awk '$1 == "deb" && $2 !~ /^\[/ && $2 !~ /security/ { print $2, $3; exit }' \
      /etc/apt/sources.list) || true
  fi
  if [ -z "$uri" ]; then
    uri=http://deb.debian.org/debian
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  fi
  [ "$signed_by" = "-" ] && signed_by=/usr/share/keyrings/debian-archive-keyring.gpg
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\nSigned-By: %s\n' \
    "$uri" "$suite" "${components:-main}" "$signed_by"
}

work=$(mktemp -d)
# Nothing else needs the source index: without the entry, the machine's later
# updates do not fetch it.
trap 'rm -rf "$work"; "${SUDO[@]}" rm -f "$DEB_SRC_LIST"' EXIT
deb_src_stanza | "${SUDO[@]}" tee "$DEB_SRC_LIST" >/dev/null
# Refresh only the source index: the binary lists are not needed for this.
"${SUDO[@]}" apt-get update -q -o Dir::Etc::SourceList="$DEB_SRC_LIST" \
  -o Dir::Etc::SourceParts=- -o APT::Get::List-Cleanup=0
# apt downloads as its own user when run as root
[ "$(id -u)" -ne 0 ] || chown _apt "$work"
patch_file=$(realpath "$XDPW_PATCH")
(cd "$work" && apt-get source -q xdg-desktop-portal-wlr >/dev/null)
"${SUDO[@]}" rm -f "$DEB_SRC_LIST"
(
  cd "$work"/xdg-desktop-portal-wlr-*/
  patch -p1 --forward <"$patch_file"
  meson setup build --buildtype=release -Dman-pages=disabled -Dsystemd=disabled >/dev/null
  ninja -C build >/dev/null
)
src=$(echo "$work"/xdg-desktop-portal-wlr-*/)
"${SUDO[@]}" install -d "$XDPW_DIR" "$XDPW_DIR/portals"
"${SUDO[@]}" install -m 755 "$src/build/xdg-desktop-portal-wlr" "$XDPW_DIR/xdg-desktop-portal-wlr"
"${SUDO[@]}" install -m 644 "$src/wlr.portal" "$XDPW_DIR/portals/wlr.portal"
echo "$patch_sum" | "${SUDO[@]}" tee "$XDPW_DIR/build.stamp" >/dev/null
echo "install-deps: xdg-desktop-portal-wlr built ($(basename "$src"))"
