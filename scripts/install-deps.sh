#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Idempotent and
# quiet when everything is present already.
set -euo pipefail

packages=(
  # build
  cmake make g++ pkg-config
  # packaging: dpkg-shlibdeps for the .deb's dependencies
  dpkg-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev libglu1-mesa-dev
  # the program asks the X server whether it answers before Qt does
  libxcb1-dev libsensors-dev
  # tests
  libgtest-dev libgmock-dev googletest
  xvfb xauth libgl1-mesa-dri x11-utils mesa-utils xdotool
  # the acceptance suite reads the clipboard and takes screenshots
  xclip imagemagick
  # the user guide PDF is typeset with these fonts
  fontconfig fonts-dejavu-core
  # sanitizers and fuzzing
  clang libclang-rt-14-dev
  # the formatting check
  clang-format
  # file system images, mounts and network namespaces used by tests
  e2fsprogs xfsprogs fuseiso iproute2 libcap2-bin util-linux
  # reference CD/DVD images (the disc maker writes one when it is there)
  xorriso
  # the JSON report's schema check
  python3-jsonschema
  # benchmark yardsticks, and the duty-response plot
  iputils-ping python3-matplotlib
  # the fleet burn-in playbook, run against this machine by a test
  ansible-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root (or with sudo) to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
