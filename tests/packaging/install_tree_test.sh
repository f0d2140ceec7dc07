#!/usr/bin/env bash
# Installs the build into a scratch root and checks it with
# scripts/check-install.sh; then shows that the check finds the faults it is
# there for in a broken copy of the tree.
#
#   install_tree_test.sh BUILD_DIR VERSION PROGRAM...
set -euo pipefail
build=$1
version=$2
shift 2
check=$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-install.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
DESTDIR=$work/good cmake --install "$build" --prefix /usr >/dev/null
bash "$check" "$work/good" "$version" "$@"

# One fault of each kind in a copy; the check reports every one of them.
cp -a "$work/good" "$work/broken"
cd "$work/broken"
printf '#!/bin/sh\necho "dvrsim 0.9"\n' >usr/bin/dvrsim
zcat usr/share/man/man1/dvrdisk.1.gz | sed 's/\\-\\-codec/\\-\\-kodec/g' | gzip -n >page.gz
mv page.gz usr/share/man/man1/dvrdisk.1.gz
rm usr/share/man/man1/mjpegtool.1.gz
mkdir -p usr/share/applications
printf '[Desktop Entry]\nType=Application\nName=Bad\nExec=dvrctl\nIcon=org.rdvr.bad\nCategories=NoSuchCategory;\n' \
  >usr/share/applications/org.rdvr.bad.desktop
cd - >/dev/null

if out=$(bash "$check" "$work/broken" "$version" "$@" rdnothing 2>&1); then
  echo "the check passed a broken tree:"
  echo "$out"
  exit 1
fi
missed=0
for expected in \
  "dvrsim --version printed 'dvrsim 0.9'" \
  "man dvrdisk does not mention --codec" \
  "mjpegtool has no manual page" \
  "desktop-file-validate org.rdvr.bad.desktop" \
  "org.rdvr.bad.desktop: icon org.rdvr.bad.svg missing" \
  "org.rdvr.bad.desktop has no metainfo" \
  "rdnothing is not installed in usr/bin"; do
  if grep -qF -- "$expected" <<<"$out"; then
    echo "found: $expected"
  else
    echo "missed: $expected"
    missed=1
  fi
done
if [ "$missed" -ne 0 ]; then
  echo "the check's report on the broken tree:"
  echo "$out"
  exit 1
fi
