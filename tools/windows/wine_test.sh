#!/bin/sh
# Runs the Windows program's tests under Wine, headless, against the
# reference server of the Linux build:
#   tools/windows/wine_test.sh <linux build folder> <windows x86_64 build folder>
# A fresh 64-bit prefix is made under the Linux build folder for each run
# (about half a minute), with the null graphics driver (windows exist but
# draw nowhere; a message box then never closes, so tests close their own)
# and without winemenubuilder, so that shell links never become host menu
# entries. Only 64-bit programs run: /usr/bin/wine would pick the 32-bit
# loader, so the 64-bit loader is called directly. The Wine server is
# stopped at the end, whatever happened.
set -eu

linux_build=$(cd "$1" && pwd)
windows_build=$(cd "$2" && pwd)
shift 2
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || { echo "wine_test: $wine64 is missing (Debian package wine64)" >&2; exit 2; }

# WINE_TEST_ROOT puts the prefix elsewhere (two runs side by side).
wine_root="${WINE_TEST_ROOT:-$linux_build/wine}"
export WINEPREFIX="$wine_root/prefix"
export HOME="$wine_root/home"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# "Z:" and the path with backslashes: Wine's drive Z: is the Linux root.
winepath_of() { printf 'Z:%s' "$1" | tr / '\\'; }

stop_wine() { "$wineserver" -k 2>/dev/null || true; }
trap stop_wine EXIT

# WINE_TEST_REUSE_PREFIX=1 keeps a prefix made by an earlier run (for
# working on the tests; a test run proper starts from a fresh one).
if [ "${WINE_TEST_REUSE_PREFIX:-0}" != 1 ] || [ ! -f "$wine_root/ready" ]; then
  rm -rf "$wine_root"
  mkdir -p "$WINEPREFIX" "$HOME" "$wine_root/scratch"
  started=$(date +%s)
  timeout 300 "$wine64" wineboot -u </dev/null >"$wine_root/wineboot.log" 2>&1
  # The null graphics driver; and no debugger on a crash: Wine would start
  # winedbg, whose crash window never closes on the null display, so a
  # crash would hang the run. "false" is no program, so the start of the
  # debugger fails and the process ends at once with its exception code
  # (the test programs print where it happened first).
  cat > "$wine_root/settings.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="null"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"="false"
"Auto"="1"
REG
  timeout 60 "$wine64" regedit /S "$(winepath_of "$wine_root/settings.reg")" </dev/null >/dev/null 2>&1
  "$wineserver" -w
  touch "$wine_root/ready"
  echo "wine_test: prefix ready in $(( $(date +%s) - started )) s"
fi

cd "$windows_build/bin"
status=0
timeout 900 "$wine64" win32_tests.exe --gtest_color=no "$@" </dev/null || status=$?
# Names outside ASCII: the same layer in code page 1251. Wine takes its
# code page from the locale, and its file names need that locale to exist:
# it is made in the build folder (LOCPATH), the machine's locales untouched.
echo "wine_test: the names test in code page 1251 (LC_ALL=ru_RU.UTF-8)"
mkdir -p "$wine_root/locale"
localedef -i ru_RU -f UTF-8 "$wine_root/locale/ru_RU.UTF-8"
LOCPATH="$wine_root/locale" LC_ALL=ru_RU.UTF-8 timeout 120 "$wine64" win32_tests.exe --gtest_color=no --gtest_filter='Win32AnsiNamesTest.*' \
  </dev/null || status=$?

# Seen on screen: the native player's pages photographed under Xvfb in
# Wine's virtual desktop (a bare X server draws no title bars), with the
# X11 driver in place of the null one for this part only. The pictures stay
# in the build folder.
screens="$linux_build/test-artifacts/windows-screens"
[ -n "${WINE_TEST_ROOT:-}" ] && screens="$wine_root/screens"
rm -rf "$screens"
mkdir -p "$screens"
echo "wine_test: the native player on screen (pictures in $screens)"
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w 2>/dev/null || true
use_display() {
  cat > "$wine_root/display.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="$1"

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"=$2

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"
REG
  timeout 60 "$wine64" regedit /S "$(winepath_of "$wine_root/display.reg")" </dev/null >/dev/null 2>&1
  "$wineserver" -w 2>/dev/null || true
}
use_display x11 '"Default"'
WEBSETUP_SCREENSHOTS="$screens" timeout 600 xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  timeout 300 "$1" win32_tests.exe --gtest_color=no --gtest_filter="NativePlayerScreens.*" </dev/null
  result=$?
  "$2" -k 2>/dev/null
  exit $result' sh "$wine64" "$wineserver" || status=$?
use_display null -
ls "$screens"
exit $status
