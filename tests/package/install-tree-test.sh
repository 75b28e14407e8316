#!/usr/bin/env bash
# `cmake --install` into a prefix with a space in it, twice (the second over
# the first): the tree, its validators, and the installed programs at work.
set -euo pipefail
source "$(dirname "$0")/checks.sh"
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/my prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
# A page only the older install had does not outlive the new one.
touch "$prefix/share/vesko/pages/retired.html"
cmake --install "$build" --prefix "$prefix" >/dev/null
[ ! -e "$prefix/share/vesko/pages/retired.html" ] || fail "a page of the older install stayed"

for file in bin/vesko bin/vesko-osascript bin/vesko-extension lib/vesko/vesko-desktop.so \
    share/vesko/pages/main.html share/vesko/samples/style.css share/vesko/extension/manifest.json \
    share/icons/hicolor/scalable/apps/app.vesko.vesko.svg share/icons/hicolor/256x256/apps/app.vesko.vesko.png; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
[[ $(file "$prefix/share/icons/hicolor/48x48/apps/app.vesko.vesko.png") == *"48 x 48"* ]] || fail "the 48x48 icon"

entry="$prefix/share/applications/app.vesko.vesko.desktop"
desktop-file-validate "$entry" || fail "desktop-file-validate"
grep -qxF "Exec=\"$prefix/bin/vesko\"" "$entry" || fail "Exec: $(grep ^Exec= "$entry")"
appstreamcli validate --pedantic --no-net "$prefix/share/metainfo/app.vesko.vesko.metainfo.xml" >/dev/null ||
    fail "appstreamcli validate --pedantic"
for manifest in etc/chromium/native-messaging-hosts lib/mozilla/native-messaging-hosts; do
    [ "$(manifest_path "$prefix/$manifest/vesko.extension.json")" = "$prefix/bin/vesko-extension" ] ||
        fail "$manifest names $(manifest_path "$prefix/$manifest/vesko.extension.json")"
done

check_installed_vesko "$prefix/bin/vesko"
echo "installed tree: ok"
