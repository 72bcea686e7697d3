#!/usr/bin/env bash
# Installs what the station needs to build, run and test on Debian 12.
# Skips apt-get when everything is already there.
set -euo pipefail
pkgs=(cmake ninja-build ccache g++ clang libclang-rt-14-dev qt6-base-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev libgl-dev libjpeg62-turbo-dev
      qt6-translations-l10n libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth imagemagick sigrok-cli
      python3-dbf dbview poppler-utils librsvg2-bin dpkg-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installation : ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
