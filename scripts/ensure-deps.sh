#!/usr/bin/env bash
# Installs, through apt-get, whatever the build and the tests need and this machine lacks.
#   scripts/ensure-deps.sh        everything: the builds and every test
#   scripts/ensure-deps.sh demo   only what scripts/demo.sh builds and runs (no clang, no offline tools)
set -euo pipefail

# The demo: the cross build of the program, the native endpoint, Wine and a display to show it on.
packages=(
  cmake ninja-build g++ pkg-config python3
  googletest libgtest-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libz-mingw-w64-dev zlib1g-dev libcpp-httplib-dev libssl-dev libboost-dev
  wine wine64 xvfb x11-apps imagemagick xdotool
)
# The tests besides: the fuzz build (clang, libFuzzer), the offline scenarios (unshare -n, ip) and nginx
# in front of the endpoint.
if [ "${1:-}" != demo ]; then
  packages+=(clang libclang-rt-14-dev iproute2 util-linux nginx-light)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing ${#missing[@]} packages: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  # wine32 is never wanted: with it /usr/bin/wine picks the 32-bit loader, which this kernel cannot run.
  # Progress goes to the terminal a line a package; the rest of apt's talk is left out.
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    | grep --line-buffered -E '^(Unpacking|Setting up) ' | sed -u 's/^/  /' || true
  for package in "${missing[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      { echo "ensure-deps: $package could not be installed" >&2; exit 1; }
  done
fi
