#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Qorvette needs.
# Safe to run again: it only installs what is missing, and refreshes the package
# lists only when something is missing.
set -euo pipefail

# The last three bring GPL-licensed MOD music that the import tests read.
packages=(
  cmake g++ make pkg-config
  qt6-base-dev libsdl2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth xdotool imagemagick x11-apps
  sox ffmpeg libgme-dev
  pulseaudio pulseaudio-utils
  shared-mime-info desktop-file-utils xdg-utils dpkg-dev
  circuslinux-data bugsquish rockdodger
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
