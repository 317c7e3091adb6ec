# Sourced: the Wine session that the scripts, and the tests they start, run in.
#   wine_fresh_prefix         build/wineprefix-fresh, a prefix no program ever runs in, made once per tree
#   wine_fresh_copy DIR       DIR made anew as a copy of it (the end-to-end tests' template)
#   wine_session_start DIR    a display (scripts/display.sh); WINEPREFIX=DIR, a copy of the fresh prefix
#                             unless DIR is a prefix already; one persistent wineserver with the prefix's
#                             services running; all of it ended when the script exits
#   wine_session_end          ends every Wine process of the prefix and waits until they are gone
#   at_exit COMMAND           runs COMMAND when the script exits (the last added first)
export WINEDEBUG=-all
# Wine makes Unix file names in the locale's character set: in the C locale a Windows name such as
# "Установка.exe" cannot be made at all. Without a UTF-8 locale, take glibc's built-in C.UTF-8.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
wine_tree=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wine_fresh=$wine_tree/build/wineprefix-fresh

at_exit_commands=()
at_exit() {
  at_exit_commands=("$1" "${at_exit_commands[@]}")
  trap 'for command in "${at_exit_commands[@]}"; do eval "$command"; done' EXIT
}

wine_fresh_prefix() {
  [ -f "$wine_fresh/system.reg" ] && return 0
  rm -rf "$wine_fresh"
  WINEPREFIX=$wine_fresh wineboot -i >/dev/null 2>&1
  WINEPREFIX=$wine_fresh wineserver -w
  [ -f "$wine_fresh/system.reg" ]
}

wine_fresh_copy() {
  wine_fresh_prefix || return 1
  rm -rf "$1"
  mkdir -p "$(dirname "$1")"
  cp -a "$wine_fresh" "$1"
}

wine_session_start() {
  source "$wine_tree/scripts/display.sh"
  [ -f "$1/system.reg" ] || wine_fresh_copy "$1" || return 1
  export WINEPREFIX=$1
  # One wineserver for the whole run: a server that exits as its last program ends can turn away a
  # program starting in that very moment (a Windows test failing in 0.01 s without any output).
  wineserver -p </dev/null >/dev/null 2>&1
  at_exit wine_session_end
  # The prefix's services start with the first program and live as long as the server; started here with
  # no output of ours, so that they do not hold a test's output open until the run ends.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_session_end() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
