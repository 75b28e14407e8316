#!/usr/bin/env bash
# Installs what is missing, builds the application and starts it.
# Extra arguments go to vesko (for example --stdio).
#
# With a window (no --stdio): when no browser answers, Chromium starts first
# (Firefox when VESKO_BROWSER=firefox), with a profile of Vesko's own and open
# on the sample articles in samples/, so Ctrl+Shift+F fetches an article at
# once. VESKO_NO_BROWSER=1 skips that.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target vesko vesko-osascript vesko_pages >/dev/null

stdio=0
for arg in "$@"; do [ "$arg" = "--stdio" ] && stdio=1; done

profile="${HOME}/.local/share/vesko/chromium-profile"
firefox_profile="${HOME}/.local/share/vesko/firefox-profile"
# The browser to start, and the one Vesko's messages name when none answers.
export VESKO_BROWSER="${VESKO_BROWSER:-chromium}"

# True when a DevTools endpoint answers on host:port $1 (default host 127.0.0.1).
answers() {
  local endpoint="$1"
  [ -n "$endpoint" ] || return 1
  [[ "$endpoint" == *:* ]] || endpoint="127.0.0.1:$endpoint"
  timeout 2 bash -c '
    exec 3<>"/dev/tcp/${1%:*}/${1##*:}" || exit 1
    printf "GET /json/version HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n" "$1" >&3
    grep -q webSocketDebuggerUrl <&3' _ "$endpoint" 2>/dev/null
}

# The port a profile's running browser announced, if any.
active_port() {
  [ -f "$1/DevToolsActivePort" ] && head -n1 "$1/DevToolsActivePort" | tr -cd '0-9'
}

# The port a Firefox profile's running browser announced, if any.
firefox_port() {
  [ -f "$1/WebDriverBiDiServer.json" ] && grep -o '"ws_port": *[0-9]*' "$1/WebDriverBiDiServer.json" | tr -cd '0-9'
}

# True when something listens on host:port $1 (Firefox answers only WebSocket upgrades).
listens() {
  local endpoint="$1"
  [ -n "$endpoint" ] || return 1
  [[ "$endpoint" == *:* ]] || endpoint="127.0.0.1:$endpoint"
  timeout 2 bash -c 'exec 3<>"/dev/tcp/${1%:*}/${1##*:}"' _ "$endpoint" 2>/dev/null
}

browser_answers() {
  if [ -n "${VESKO_DEVTOOLS_ENDPOINT:-}" ]; then
    local configured="${VESKO_DEVTOOLS_ENDPOINT#*://}"
    listens "${configured%%/*}" && return 0
  fi
  for p in "$profile" "$HOME/.config/chromium" "$HOME/.config/google-chrome"; do
    answers "$(active_port "$p")" && return 0
  done
  for p in "$firefox_profile" "$HOME"/.mozilla/firefox/*; do
    listens "$(firefox_port "$p")" && return 0
  done
  answers 9222
}

sample_pages() {
  find "$root/samples" -name '*.html' | sort | sed 's|^|file://|'
}

start_firefox() {
  local firefox
  firefox=$(command -v firefox-esr || command -v firefox || true)
  if [ -z "$firefox" ]; then
    echo "run.sh: Firefox is not installed; start a browser with --remote-debugging-port=9222" >&2
    return 0
  fi
  mkdir -p "$firefox_profile"
  rm -f "$firefox_profile/WebDriverBiDiServer.json"
  local pages=()
  while IFS= read -r page; do pages+=("$page"); done < <(sample_pages)
  echo "run.sh: starting Firefox with Vesko's profile ($firefox_profile)" >&2
  nohup "$firefox" --no-remote --profile "$firefox_profile" --remote-debugging-port=0 "${pages[@]}" >/dev/null 2>&1 &
  # Firefox names its port in WebDriverBiDiServer.json once it listens.
  for _ in $(seq 1 150); do
    listens "$(firefox_port "$firefox_profile")" && return 0
    sleep 0.2
  done
  echo "run.sh: Firefox did not open its remote debugging port; fetching will report that no browser runs" >&2
}

start_browser() {
  if [[ "$VESKO_BROWSER" == *firefox* ]]; then
    start_firefox
    return
  fi
  local chromium
  chromium=$(command -v chromium || command -v chromium-browser || true)
  if [ -z "$chromium" ]; then
    echo "run.sh: Chromium is not installed; start a browser with --remote-debugging-port=9222" >&2
    return 0
  fi
  mkdir -p "$profile"
  rm -f "$profile/DevToolsActivePort"
  local flags=(--user-data-dir="$profile" --remote-debugging-port=0 --no-first-run --no-default-browser-check)
  # Chromium refuses to run as root inside its sandbox.
  [ "$(id -u)" -eq 0 ] && flags+=(--no-sandbox)
  local pages=()
  while IFS= read -r page; do pages+=("$page"); done < <(sample_pages)
  echo "run.sh: starting Chromium with Vesko's profile ($profile)" >&2
  nohup "$chromium" "${flags[@]}" "${pages[@]}" >/dev/null 2>&1 &
  # Chromium names its port in DevToolsActivePort once it listens.
  for _ in $(seq 1 100); do
    answers "$(active_port "$profile")" && return 0
    sleep 0.2
  done
  echo "run.sh: Chromium did not open its DevTools endpoint; fetching will report that no browser runs" >&2
}

# The desktop entry that docks match the badge and the window against: the
# installed one, pointed at this build and at the icon in the source tree.
install_desktop_entry() {
  local apps="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
  mkdir -p "$apps"
  # Exec takes the path in double quotes, with " ` $ and \ escaped; sed's
  # replacement wants | & and \ escaped.
  local exec icon
  exec="\"$(printf '%s' "$root/build/vesko" | sed 's/["`$\\]/\\&/g')\""
  exec=$(printf '%s' "$exec" | sed 's/[|&\\]/\\&/g')
  icon=$(printf '%s' "$root/data/app.vesko.vesko.svg" | sed 's/[|&\\]/\\&/g')
  sed -e "s|@VESKO_EXEC@|$exec|" -e "s|^Icon=.*|Icon=$icon|" \
    data/app.vesko.vesko.desktop.in >"$apps/app.vesko.vesko.desktop"
  # Earlier versions of this script wrote vesko.desktop for this build.
  if grep -qxF "Exec=$root/build/vesko" "$apps/vesko.desktop" 2>/dev/null; then rm -f "$apps/vesko.desktop"; fi
}

if [ "$stdio" -eq 0 ]; then
  if [ -z "${VESKO_NO_BROWSER:-}" ] && ! browser_answers; then start_browser; fi
  install_desktop_entry || true
fi
exec build/vesko "$@"
