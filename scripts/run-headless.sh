#!/usr/bin/env bash
# Runs a command headless: an X server (Xvfb), a private D-Bus session and an unlocked
# gnome-keyring holding a throw-away login keyring. Nothing of the user's session is touched.
set -euo pipefail

if [ "${1:-}" != "--inner" ]; then
    export JW_HEADLESS_HOME
    JW_HEADLESS_HOME=$(mktemp -d /tmp/jotwarden-headless.XXXXXX)
    trap 'rm -rf "$JW_HEADLESS_HOME"' EXIT
    status=0
    xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" \
        dbus-run-session -- "$0" --inner "$@" || status=$?
    exit $status
fi
shift

# The keyring daemon keeps its files under XDG_DATA_HOME; give it a private one.
export XDG_DATA_HOME="$JW_HEADLESS_HOME/data"
export XDG_RUNTIME_DIR="$JW_HEADLESS_HOME/run"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# Started explicitly unlocked: a keyring auto-started by D-Bus would be locked and its first
# store would wait for a password prompt that never comes.
eval "$(printf 'jotwarden-test' | gnome-keyring-daemon --unlock --components=secrets)"
export GNOME_KEYRING_CONTROL
unset XDG_DATA_HOME
# Wait until the daemon owns the Secret Service name, and keep its id for the cleanup below:
# other headless runs may be going at the same time, and ending "the newest keyring daemon"
# could end theirs.
keyring_pid=""
for _ in $(seq 1 100); do
    keyring_pid=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null |
        awk '/uint32/ { print $2 }' || true)
    [ -n "$keyring_pid" ] && break
    sleep 0.1
done

# Tests that write a keyring run only where this marker names the session bus they are on.
export JW_HEADLESS_SESSION_BUS="$DBUS_SESSION_BUS_ADDRESS"

status=0
"$@" || status=$?
if [ -n "$keyring_pid" ]; then
    kill "$keyring_pid" 2>/dev/null || true
fi
exit $status
