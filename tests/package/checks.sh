# Shared by the package tests: failing, and the installed `vesko` at work.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Runs the installed vesko ($1) as a user would: without a window it answers
# through the runner installed beside it; with no display it loads its window
# plug-in, which then reports that no display is there.
check_installed_vesko() {
    local vesko=$1 out err
    out=$(printf '%s\n' '{"action":"get-tab-urls","callbackId":"c"}' |
        env -u VESKO_RESOURCES -u VESKO_OSASCRIPT VESKO_DEVTOOLS_ENDPOINT=127.0.0.1:1 "$vesko" --stdio) ||
        fail "vesko --stdio failed"
    [[ $out == *"Bridge._reject('c'"*"appear to be running"* ]] || fail "vesko --stdio answered: $out"
    if err=$(env -u DISPLAY -u WAYLAND_DISPLAY "$vesko" 2>&1 >/dev/null); then fail "vesko started without a display"; fi
    [[ $err == *"cannot open the display"* ]] || fail "vesko without a display said: $err"
}

# The path a native-messaging host manifest ($1) names.
manifest_path() {
    python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["path"])' "$1"
}
