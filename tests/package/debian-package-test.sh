#!/usr/bin/env bash
# `cpack -G DEB`: the package's relations, and the programs unpacked into a
# temporary root and run from there.
set -euo pipefail
source "$(dirname "$0")/checks.sh"
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >/dev/null
deb=$(echo "$work"/out/vesko_*.deb)
[ -f "$deb" ] || fail "no package in $work/out"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in libgtk-3-0 libwebkit2gtk-4.1-0 libcurl4 libicu72 libglib2.0-0 libstdc++6; do
    [[ ", $depends," =~ ,\ "$package"[\ ,] ]] || fail "Depends lacks $package"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = "chromium | firefox-esr" ] || fail "Recommends: $(dpkg-deb -f "$deb" Recommends)"
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = /etc/chromium/native-messaging-hosts/vesko.extension.json ] ||
    fail "conffiles"

dpkg-deb -x "$deb" "$work/root"
root=$work/root
grep -qx "Exec=/usr/bin/vesko" "$root/usr/share/applications/app.vesko.vesko.desktop" || fail "Exec"
[ "$(manifest_path "$root/etc/chromium/native-messaging-hosts/vesko.extension.json")" = /usr/bin/vesko-extension ] ||
    fail "the Chromium manifest's path"
[ "$(manifest_path "$root/usr/lib/mozilla/native-messaging-hosts/vesko.extension.json")" = /usr/bin/vesko-extension ] ||
    fail "the Firefox manifest's path"
check_installed_vesko "$root/usr/bin/vesko"
echo "package: ok"
