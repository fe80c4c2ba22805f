# Sourced by the scripts that run Windows programs: a Wine prefix of their own that reports
# Windows 10, one wineserver for the whole session (Wine's helper processes would otherwise
# keep output pipes open after a program has ended), no debug noise, and a virtual X server
# for the programs that show real windows. All of it ends with the sourcing shell.
# Usage: source scripts/wine-session.sh PREFIX-DIRECTORY
mkdir -p "$1"
export WINEPREFIX=$(cd "$1" && pwd)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installers
wine_program=$(command -v /usr/lib/wine/wine64 || command -v wine64 || command -v wine)
# Debian's wine64 alone installs its server only in Wine's own folder; the package wine
# adds a wineserver on the PATH.
wineserver_program=$(command -v /usr/lib/wine/wineserver64 || command -v wineserver64 || command -v wineserver)

if [ -z "${DISPLAY:-}" ]; then
  for display_number in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$display_number" ] || [ -e "/tmp/.X$display_number-lock" ] || break
  done
  Xvfb ":$display_number" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  korvane_xvfb_pid=$!
  export DISPLAY=":$display_number"
fi

"$wineserver_program" -p
if [ ! -f "$WINEPREFIX/.korvane-ready" ]; then
  "$wine_program" wineboot -i >/dev/null 2>&1
  "$wine_program" reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
  touch "$WINEPREFIX/.korvane-ready"
fi
"$wine_program" cmd /c exit 0 >/dev/null 2>&1

korvane_end_wine_session() {
  "$wineserver_program" -k 2>/dev/null || true
  [ -z "${korvane_xvfb_pid:-}" ] || kill "$korvane_xvfb_pid" 2>/dev/null || true
}
trap korvane_end_wine_session EXIT
