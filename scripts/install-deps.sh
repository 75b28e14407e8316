#!/usr/bin/env bash
# Installs the Debian packages Vesko needs to build, run and test.
# Idempotent: when everything is already present it does nothing and prints nothing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # clang with libFuzzer and the sanitizer runtimes: the sanitizer builds and scripts/fuzz.sh
  clang libclang-rt-14-dev
  # libraries
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  libicu-dev libcurl4-openssl-dev libsoup-3.0-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev libxtst-dev
  # test and run-time programs
  chromium firefox-esr xvfb xauth dbus dbus-x11 x11-apps imagemagick python3 nodejs
  fonts-dejavu-core
  # icons, desktop entry and AppStream checks, the Debian package
  librsvg2-bin desktop-file-utils appstream dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
# npm comes with some builds of nodejs; Debian's own nodejs needs its npm package.
if ! command -v npm >/dev/null 2>&1 && ! printf '%s\n' "${missing[@]}" | grep -qx nodejs; then missing+=(npm); fi

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  command -v npm >/dev/null 2>&1 || $SUDO apt-get install -y -qq --no-install-recommends npm >/dev/null
fi

# The pages' JavaScript libraries, exactly as package-lock.json pins them,
# whenever the lock file is newer than what node_modules holds.
cd "$(dirname "$0")/.."
installed=node_modules/.package-lock.json
if [ ! -f "$installed" ] || [ package-lock.json -nt "$installed" ] || [ package.json -nt "$installed" ]; then
  echo "Installing the pages' libraries (npm ci)"
  npm ci --no-audit --no-fund --loglevel=error >/dev/null
fi
