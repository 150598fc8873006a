#!/usr/bin/env bash
# Installs a build into a scratch prefix and makes its .deb, then checks that both carry the
# programs, a valid desktop entry and the theme icons, and that the .deb depends on the
# libraries the programs link.
#   check_package.sh BUILD_DIR PROGRAM...
set -euo pipefail

build=$1
shift
programs=("$@")
scratch=$(mktemp -d /tmp/tovalisk-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$scratch/root" >"$scratch/install.log"
for program in "${programs[@]}"; do
  [ -x "$scratch/root/bin/$program" ] || fail "no bin/$program installed"
done

desktop=$scratch/root/share/applications/tovalisk.desktop
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "the desktop entry is not valid"
  for line in Name=Tovalisk Exec=tovalisk Icon=tovalisk 'Categories=AudioVideo;Audio;'; do
    grep -qxF "$line" "$desktop" || fail "the desktop entry has no $line"
  done
else
  fail "no desktop entry installed"
fi

for size in 16 32 64 128; do
  icon=$scratch/root/share/icons/hicolor/${size}x${size}/apps/tovalisk.png
  if [ -f "$icon" ]; then
    got=$(/usr/bin/identify -format '%m %wx%h' "$icon")
    [ "$got" = "PNG ${size}x${size}" ] || fail "$icon is $got"
  else
    fail "no ${size}x${size} icon installed"
  fi
done

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/package" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack -G DEB failed"; }
deb=$(find "$scratch/package" -maxdepth 1 -name '*.deb' | head -n1)
if [ -n "$deb" ]; then
  contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
  expected=(./usr/share/applications/tovalisk.desktop)
  for program in "${programs[@]}"; do expected+=("./usr/bin/$program"); done
  for size in 16 32 64 128; do
    expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/tovalisk.png")
  done
  for path in "${expected[@]}"; do
    grep -qxF "$path" <<<"$contents" || fail "the .deb has no $path"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  needed=(libc6 libstdc++6)
  for program in "${programs[@]}"; do
    case $program in
      tovalisk) needed+=(libsdl2-2.0-0 libfreetype6 libfontconfig1) ;;
      tovalisk-scan) needed+=(libsndfile1 libsamplerate0) ;;
    esac
  done
  names=$(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}')
  for package in "${needed[@]}"; do
    grep -qxF "$package" <<<"$names" || fail "the .deb does not depend on $package"
  done
else
  fail "cpack made no .deb"
fi

echo "check_package: ${#programs[@]} program(s) (${programs[*]}), $failures failure(s)"
[ "$failures" -eq 0 ]
