#!/usr/bin/env bash
# Installs the native-messaging host manifest of vesko-extension where
# Chromium, Google Chrome and Firefox look for it, pointing at the built
# executable. Builds nothing. See extension/README.md.
set -euo pipefail
# A "&" in a path must stay literal in ${text//pattern/replacement}.
shopt -u patsub_replacement 2>/dev/null || true

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
host_name=vesko.extension
sample_origin="chrome-extension://gppbdjjkfnilhjhcaleadfddopglojcj/"
sample_gecko_id="vesko-extension-sample@vesko.example"
config_home=${XDG_CONFIG_HOME:-$HOME/.config}

usage() {
    cat <<USAGE
Usage: $(basename "$0") [options] [PATH-TO-vesko-extension]

Writes the host manifest $host_name.json for each browser, with the absolute
path of the built vesko-extension (default: build/vesko-extension beside this
folder).

Options:
  --browser NAME          chromium, chrome or firefox; may be repeated. Without
                          it (and without a --*-dir option), every browser whose
                          profile folder exists, or Chromium and Firefox when
                          none does.
  --chromium-dir DIR      write the Chromium manifest into DIR instead, e.g.
                          <user-data-dir>/NativeMessagingHosts
  --firefox-dir DIR       write the Firefox manifest into DIR instead
  --origin ORIGIN         allow this Chromium extension origin
                          (chrome-extension://ID/); may be repeated
  --extension-id ID       allow this Firefox extension ID; may be repeated
                          (the sample extension is always allowed)
  --uninstall             remove the manifests instead
  -h, --help              show this text
USAGE
}

die() { echo "$(basename "$0"): $*" >&2; exit 1; }

browsers=()
chromium_dirs=()
firefox_dirs=()
origins=("$sample_origin")
gecko_ids=("$sample_gecko_id")
uninstall=0
executable=

while [ $# -gt 0 ]; do
    case "$1" in
        --browser) [ $# -ge 2 ] || die "--browser needs a name"; browsers+=("$2"); shift 2 ;;
        --chromium-dir) [ $# -ge 2 ] || die "--chromium-dir needs a folder"; chromium_dirs+=("$2"); shift 2 ;;
        --firefox-dir) [ $# -ge 2 ] || die "--firefox-dir needs a folder"; firefox_dirs+=("$2"); shift 2 ;;
        --origin) [ $# -ge 2 ] || die "--origin needs an origin"; origins+=("$2"); shift 2 ;;
        --extension-id) [ $# -ge 2 ] || die "--extension-id needs an ID"; gecko_ids+=("$2"); shift 2 ;;
        --uninstall) uninstall=1; shift ;;
        -h|--help) usage; exit 0 ;;
        --) shift; [ $# -gt 0 ] && { executable=$1; shift; } ;;
        -*) usage >&2; exit 2 ;;
        *) [ -z "$executable" ] || die "more than one executable given"; executable=$1; shift ;;
    esac
done

# Where each browser looks for the manifests of the current user.
for b in "${browsers[@]}"; do
    case "$b" in
        chromium) chromium_dirs+=("$config_home/chromium/NativeMessagingHosts") ;;
        chrome) chromium_dirs+=("$config_home/google-chrome/NativeMessagingHosts") ;;
        firefox) firefox_dirs+=("$HOME/.mozilla/native-messaging-hosts") ;;
        *) die "unknown browser '$b' (chromium, chrome or firefox)" ;;
    esac
done
if [ ${#chromium_dirs[@]} -eq 0 ] && [ ${#firefox_dirs[@]} -eq 0 ]; then
    [ -d "$config_home/chromium" ] && chromium_dirs+=("$config_home/chromium/NativeMessagingHosts")
    [ -d "$config_home/google-chrome" ] && chromium_dirs+=("$config_home/google-chrome/NativeMessagingHosts")
    [ -d "$HOME/.mozilla" ] && firefox_dirs+=("$HOME/.mozilla/native-messaging-hosts")
    if [ ${#chromium_dirs[@]} -eq 0 ] && [ ${#firefox_dirs[@]} -eq 0 ]; then
        chromium_dirs+=("$config_home/chromium/NativeMessagingHosts")
        firefox_dirs+=("$HOME/.mozilla/native-messaging-hosts")
    fi
fi

if [ "$uninstall" -eq 1 ]; then
    for dir in "${chromium_dirs[@]}" "${firefox_dirs[@]}"; do
        if [ -f "$dir/$host_name.json" ]; then
            rm -f "$dir/$host_name.json"
            echo "Removed $dir/$host_name.json"
        fi
    done
    exit 0
fi

[ -n "$executable" ] || executable="$script_dir/../build/vesko-extension"
[ -f "$executable" ] && [ -x "$executable" ] ||
    die "no executable vesko-extension at '$executable' (build it first, or pass its path)"
executable=$(realpath "$executable")

# Everything written into the JSON text is checked to need no escaping.
json_safe() { [[ "$1" != *[\"\\]* ]] && [[ "$1" != *[[:cntrl:]]* ]]; }
json_safe "$executable" || die "the path '$executable' contains a quote, backslash or control character"
for o in "${origins[@]}"; do
    [[ "$o" =~ ^chrome-extension://[a-p]{32}/$ ]] || die "'$o' is not an origin of the form chrome-extension://ID/"
done
for id in "${gecko_ids[@]}"; do
    json_safe "$id" && [ -n "$id" ] || die "'$id' is not a usable extension ID"
done

json_list() {
    local out= item
    for item in "$@"; do out+="${out:+, }\"$item\""; done
    printf '%s' "$out"
}

# Fills a template: the path and the allowed list, as literal text.
fill() {
    local template=$1 list_name=$2 list=$3 text
    text=$(<"$template")
    text=${text//@VESKO_EXTENSION_PATH@/$executable}
    text=${text//@$list_name@/$list}
    printf '%s\n' "$text"
}

write_manifest() {
    local dir=$1 content=$2
    mkdir -p "$dir"
    local tmp
    tmp=$(mktemp "$dir/.$host_name.XXXXXX")
    printf '%s' "$content" >"$tmp"
    chmod 644 "$tmp"
    mv -f "$tmp" "$dir/$host_name.json"
    echo "Wrote $dir/$host_name.json"
}

for dir in "${chromium_dirs[@]}"; do
    write_manifest "$dir" "$(fill "$script_dir/manifests/chromium.json.in" VESKO_ALLOWED_ORIGINS "$(json_list "${origins[@]}")")"$'\n'
done
for dir in "${firefox_dirs[@]}"; do
    write_manifest "$dir" "$(fill "$script_dir/manifests/firefox.json.in" VESKO_ALLOWED_EXTENSIONS "$(json_list "${gecko_ids[@]}")")"$'\n'
done
