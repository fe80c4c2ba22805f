#!/usr/bin/env bash
# Installs what Korvane needs to build, test and show its window on a fresh Debian 12 machine.
# With "windows", also what the cross build for Windows and its tests under Wine need.
# Safe to run again: packages already present are skipped.
# Usage: bash scripts/install-deps.sh [windows]
set -euo pipefail

packages=(
  cmake ninja-build g++ ccache pkg-config
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n
  libssl-dev libudev-dev
  # libpq for the line database; the server, its client programs and openssl for the
  # throwaway test servers of scripts/line-server.sh.
  libpq-dev postgresql-15 postgresql-client-15 postgresql-client-common openssl
  xvfb xauth x11-utils fonts-wqy-zenhei imagemagick
  # The line report's page in a real browser, headless (tests, screenshots); time zones for
  # the report's test, which runs half an hour off UTC.
  chromium tzdata
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  clang libclang-rt-14-dev
)
if [ "${1:-}" = windows ]; then
  # fonts-wine: Wine's own Tahoma, and Marlett for the title bar buttons of real windows.
  packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64 fonts-wine xz-utils unzip)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
