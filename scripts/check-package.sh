#!/usr/bin/env bash
# Builds the Debian package from the release build and checks it as a user
# gets it: lintian reports no error, the dependencies come from the libraries
# the programs link, and the unpacked tree passes scripts/check-install.sh
# (every program's --version and --help run from there, the desktop entries
# validate). Run after the release build; scripts/test.sh does.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release

rm -rf "$build/package"
(cd "$build" && cpack -G DEB)
debs=("$build"/package/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "expected one .deb in $build/package, found: ${debs[*]}" >&2
  exit 1
fi
deb=${debs[0]}
echo "package: $deb"
dpkg-deb --info "$deb"

lintian --fail-on error --info "$deb"

depends=$(dpkg-deb --field "$deb" Depends)
for lib in libc6 libstdc++6 libqt6core6 libavcodec; do
  if ! grep -q "$lib" <<<"$depends"; then
    echo "Depends lacks $lib (dpkg-shlibdeps did not run?): $depends" >&2
    exit 1
  fi
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
# The programs this build made must all be in the package.
expected=()
for p in rdclient rdplayer dvrsim dvrctl dvrdisk mjpegtool; do
  [ -x "$build/bin/$p" ] && expected+=("$p")
done
bash scripts/check-install.sh "$root" "$(dpkg-deb --field "$deb" Version)" "${expected[@]}"
