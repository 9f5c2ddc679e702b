#!/usr/bin/env bash
# Installs everything Quillo needs to build, test and run on Debian 12.
# Idempotent: installs only what is missing. Non-interactive; uses sudo when
# not run as root.
set -euo pipefail

PACKAGES=(
  # build
  g++ cmake ninja-build pkg-config clang-format
  qt6-base-dev libgl-dev
  libxcb1-dev libxcb-shm0-dev libxcb-randr0-dev libxcb-composite0-dev
  libxcb-xfixes0-dev libxcb-damage0-dev libxcb-shape0-dev
  libgif-dev libimagequant-dev
  # recording on Wayland: the PipeWire client library (the portal is QtDBus)
  libpipewire-0.3-dev
  # the frame store: zstd for the pictures, zlib's CRC-32 for the records
  libzstd-dev zlib1g-dev
  # run: the external encoders (gifski below, through npm)
  ffmpeg
  # tests: GoogleTest, an X server, real input, output checks
  libgtest-dev libgmock-dev xvfb xauth xdotool x11-utils x11-apps xcompmgr openbox
  gifsicle imagemagick webp locales
  # tests of the portal backend: a private session bus and PipeWire daemon
  dbus-daemon pipewire pipewire-bin
  # packaging: the .deb and its checks (scripts/check-package.sh)
  dpkg-dev desktop-file-utils appstream lintian man-db
  # benchmarks
  libbenchmark-dev time
)
GIFSKI_VERSION=1.7.1

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi

"$(dirname "$0")/apt-install-missing.sh" "${PACKAGES[@]}"

# A locale with a decimal comma, for the test that field arithmetic ignores it.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "install-deps: generating the de_DE.UTF-8 locale"
  "${SUDO[@]}" sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  "${SUDO[@]}" locale-gen >/dev/null
fi

# gifski comes from npm; the package ships a Linux binary but declares no
# command, so link it where the program looks for tools.
if ! /usr/local/bin/gifski --version 2>/dev/null | grep -q "$GIFSKI_VERSION"; then
  if ! command -v npm >/dev/null; then
    # Debian's own Node.js; a machine with another Node.js keeps its npm.
    "${SUDO[@]}" apt-get update -q
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends nodejs npm
  fi
  echo "install-deps: installing gifski $GIFSKI_VERSION from npm"
  "${SUDO[@]}" npm install -g --no-fund --no-audit "gifski@$GIFSKI_VERSION"
  "${SUDO[@]}" ln -sf "$(npm root -g)/gifski/bin/debian/gifski" /usr/local/bin/gifski
fi

# The headless Wayland desktops of the wayland tests.
"$(dirname "$0")/install-wayland-deps.sh"
