#!/usr/bin/env bash
# The installer's main job, shown end to end on this machine: the reference
# update server on loopback serves the sample client, the installer installs
# it into a temporary home folder, then runs a second time and offers
# Reinstall or Play (Play starts the sample client).
#
# On a desktop (a display is named) the installer opens its window with the
# HTML player: with a person at the terminal, click through it; without one
# (input not a terminal) the desktop tests' driver clicks through every page
# and keeps a screenshot of each in the demo folder. Without a display the
# console player installs unattended.
set -euo pipefail

build=${1:-build}
build=$(cd "$build" && pwd)
bin=$build/bin
port=${DEMO_HTTPS_PORT:-8443}   # the program's built-in secure host is localhost:8443

work=$(mktemp -d /tmp/websetup-demo.XXXXXX)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

section() { printf '\n== %s ==\n' "$1"; }

# 1. The reference server, on loopback only.
section "Reference update server"
"$bin/refserver" --http-port 0 --https-port "$port" \
  --cert "$build/testcerts/server.pem" --key "$build/testcerts/server.key" \
  --files "$build/sample-client" --client-set "$build/sample-client/client" \
  --log "$work/server.log" > "$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do
  grep -q '^listening' "$work/server.out" 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.out"; echo "the reference server did not start (is port $port free?)"; exit 1; }
  sleep 0.1
done
grep '^listening' "$work/server.out" || { echo "the reference server did not come up"; exit 1; }

# 2. A downloaded installer: the program and, next to it, the server override
#    (with the test CA) and the unattended switch.
download=$work/download
mkdir -p "$download/cfg"
cp "$bin/websetup" "$download/"
printf '~ip=localhost~srvl=UpdateServlet~po=%s~ca=%s' "$port" "$build/testcerts/ca.pem" > "$download/cfg/Updater.cfg"
: > "$download/cfg/Unattended.cfg"

# 3. A home folder of its own: registry store, menu, desktop and the
#    installation all land in it.
home=$work/home
mkdir -p "$home"
desktop=
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then desktop=yes; fi
driver=
if [ -n "$desktop" ] && [ ! -t 0 ] && [ -x "$bin/websetup_html_e2e" ]; then
  driver=$bin/websetup_html_e2e
  cp "$driver" "$download/"
  mkdir -p "$work/screenshots"
fi
# $1: the driver's steps for the run (used when no person clicks).
run_installer() {
  local program=./websetup args=() input=/dev/null
  if [ -n "$driver" ]; then
    printf '%b' "$1" > "$work/drive"
    program=./websetup_html_e2e
    args=("$work/drive" "$work/screenshots" "$port" 20000)
  elif [ -n "$desktop" ] && [ -t 0 ]; then
    input=/dev/tty
    echo "The installer opens in a window: click through it."
  fi
  (cd "$download" && env HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
     XDG_DESKTOP_DIR="$home/Desktop" no_proxy=localhost,127.0.0.1 "$program" "${args[@]}" < "$input")
}

section "First run: installation"
run_installer 'wait language\nshot language\nclick [data-lang=en]\nwait folder\nshot folder\nclick #install\nwait licence\nshot licence\nclick #accept\n'
echo "(exit code $?)"

install_dir=$home/.local/share/Quorix
section "Installed folder $install_dir"
(cd "$install_dir" && find . -type f | sort)
section "Registry store (machine hive)"
cat "$home/.local/share/websetup/registry-machine"
section "Shortcuts"
find "$home/.local/share/applications" "$home/Desktop" -name '*.desktop' | sort
echo "--- $home/Desktop/Quorix.desktop"
cat "$home/Desktop/Quorix.desktop"

section "Second run: Reinstall or Play"
run_installer 'wait offer\nshot offer\nclick #play\n'
echo "(exit code $?)"
sleep 1   # the launcher starts the client without waiting

section "What the server received"
python3 - "$work/server.log" <<'PY'
import json, sys
for line in open(sys.argv[1]):
    r = json.loads(line)
    form = dict(r.get("form", []))
    what = " ".join(f"{k}={form[k]}" for k in ("ac", "txt") if k in form)
    print(f'{r["method"]:4} {r["path"]:32} {what}')
PY
echo
if [ -n "$driver" ]; then echo "Screenshots of the pages: $work/screenshots"; fi
echo "Demo folder: $work"
