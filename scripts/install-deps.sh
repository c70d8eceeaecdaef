#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
#   scripts/install-deps.sh            build, tests and benchmarks, the window (Qt 6) and what
#                                      runs and photographs it (Xvfb, xdotool, ImageMagick, a
#                                      font with the factory face's Chinese captions)
#   scripts/install-deps.sh --ci       also the Windows cross compilers, Wine, clang-format,
#                                      clang with libFuzzer for the fuzz preset, and what the
#                                      Debian package is made with
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
          qt6-base-dev qt6-qpa-plugins fonts-wine fonts-wqy-microhei xvfb xauth xdotool
          imagemagick)
if [[ "${1:-}" == "--ci" ]]; then
  packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 clang-format
            clang libclang-rt-14-dev dpkg-dev file)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [[ $(id -u) -ne 0 ]]; then
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
