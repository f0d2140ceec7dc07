#!/usr/bin/env bash
# Checks an installed tree as users get it: ROOT holds usr/ (a DESTDIR of
# `cmake --install --prefix /usr`, or an unpacked .deb).
#
#   scripts/check-install.sh ROOT VERSION PROGRAM...
#
# Every PROGRAM must be in ROOT/usr/bin. For every program found there:
# --version prints "<program> VERSION", --help succeeds; its manual page (one
# is required for the command-line tools) renders without warnings, has the
# usual sections and mentions every option the program's help lists. Every
# desktop entry passes desktop-file-validate, runs a program of the tree and
# has its icon in every size and an AppStream metainfo that passes
# appstreamcli validate and carries VERSION. The windowed programs must have
# a desktop entry. Prints one line per failure and exits 1 if there was one.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 ROOT VERSION PROGRAM..." >&2
  exit 2
fi
root=$(cd "$1" && pwd)
version=$2
shift 2
expected=("$@")

usr=$root/usr
windowed=(rdclient rdplayer)
tools=(dvrsim dvrctl dvrdisk mjpegtool)
icon_sizes=(16 22 24 32 48 64 128 256)
# File types a windowed program must be registered for ("Open with").
declare -A opens=([rdplayer]="application/x-raw-disk-image")
# Help texts beyond `PROGRAM --help` whose options the manual page must cover.
declare -A extra_help=([dvrsim]="make-disk --help")

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
is_one_of() {
  local x=$1
  shift
  for y in "$@"; do [ "$x" = "$y" ] && return 0; done
  return 1
}

export QT_QPA_PLATFORM=offscreen RD_AUDIO_DEVICE=null
export LC_ALL=C.UTF-8
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

for p in "${expected[@]}"; do
  [ -x "$usr/bin/$p" ] || fail "$p is not installed in usr/bin"
done

programs=()
for exe in "$usr"/bin/*; do
  [ -x "$exe" ] && programs+=("$(basename "$exe")")
done
[ ${#programs[@]} -gt 0 ] || fail "usr/bin holds no program"

# Runs a program of the tree (from a scratch folder, so nothing lands in the
# caller's) with a deadline; stdout to $scratch/out, stderr to $scratch/err.
run() {
  (cd "$scratch" && timeout 60 "$@" >"$scratch/out" 2>"$scratch/err")
}

for p in "${programs[@]}"; do
  exe=$usr/bin/$p
  if run "$exe" --version; then
    got=$(cat "$scratch/out")
    [ "$got" = "$p $version" ] || fail "$p --version printed '$got', not '$p $version'"
  else
    fail "$p --version exited with $? ($(head -c 300 "$scratch/err"))"
  fi
  if run "$exe" --help; then
    [ -s "$scratch/out" ] || fail "$p --help printed nothing"
    cp "$scratch/out" "$scratch/help.$p"
  else
    fail "$p --help exited with $? ($(head -c 300 "$scratch/err"))"
    : >"$scratch/help.$p"
  fi
  if [ -n "${extra_help[$p]:-}" ]; then
    # shellcheck disable=SC2086
    if run "$exe" ${extra_help[$p]}; then
      cat "$scratch/out" >>"$scratch/help.$p"
    else
      fail "$p ${extra_help[$p]} exited with $?"
    fi
  fi

  page=$usr/share/man/man1/$p.1.gz
  if [ ! -f "$page" ]; then
    is_one_of "$p" "${tools[@]}" && fail "$p has no manual page ($page)"
    continue
  fi
  warnings=$(man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $p warns: $warnings"
  text=$(zcat "$page" | groff -man -Tascii -rLL=250n 2>/dev/null | col -bx)
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES; do
    grep -qx "$section" <<<"$text" || fail "man $p has no $section section"
  done
  grep -q "^ *$p - " <<<"$text" || fail "man $p: the NAME line does not start with '$p - '"
  while read -r option; do
    [ -n "$option" ] || continue
    grep -qE -- "(^|[^a-z0-9-])$option([^a-z0-9-]|\$)" <<<"$text" ||
      fail "man $p does not mention $option (listed by its help)"
  done < <(grep -oE -- '--[a-z0-9][a-z0-9-]*' "$scratch/help.$p" | sort -u)
done

entries=("$usr"/share/applications/*.desktop)
[ -e "${entries[0]}" ] || entries=()
for p in "${programs[@]}"; do
  if is_one_of "$p" "${windowed[@]}"; then
    grep -lqE "^Exec=$p( |\$)" "${entries[@]}" /dev/null 2>/dev/null ||
      fail "$p has no desktop entry in usr/share/applications"
  fi
done

for entry in "${entries[@]}"; do
  name=$(basename "$entry")
  id=${name%.desktop}
  out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate $name failed"
  [ -z "$out" ] || fail "desktop-file-validate $name: $out"
  exec_line=$(sed -n 's/^Exec=//p' "$entry" | head -n1)
  exec_cmd=${exec_line%% *}
  [ -x "$usr/bin/$exec_cmd" ] || fail "$name runs '$exec_cmd', which is not in usr/bin"
  mime=$(sed -n 's/^MimeType=//p' "$entry" | head -n1)
  if [ -n "$mime" ] && ! grep -qE ' %[fFuU]( |$)' <<<"$exec_line"; then
    fail "$name lists MimeType but its Exec takes no file (%f, %F, %u or %U)"
  fi
  for type in ${opens[$exec_cmd]:-}; do
    grep -qF ";$type;" <<<";$mime" || fail "$name is not registered for $type"
  done
  icon=$(sed -n 's/^Icon=//p' "$entry" | head -n1)
  [ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "$name: icon $icon.svg missing in hicolor/scalable/apps"
  for s in "${icon_sizes[@]}"; do
    png=$usr/share/icons/hicolor/${s}x${s}/apps/$icon.png
    if [ -f "$png" ]; then
      file -b "$png" | grep -q "PNG image data, $s x $s," || fail "$png is not a $s x $s PNG"
    else
      fail "$name: icon $icon.png missing in hicolor/${s}x${s}/apps"
    fi
  done
  meta=$usr/share/metainfo/$id.metainfo.xml
  if [ -f "$meta" ]; then
    out=$(appstreamcli validate --no-net --no-color "$meta" 2>&1) ||
      fail "appstreamcli validate $id.metainfo.xml: $out"
    grep -q "<launchable type=\"desktop-id\">$name</launchable>" "$meta" ||
      fail "$id.metainfo.xml does not launch $name"
    grep -q "<release version=\"$version\"" "$meta" ||
      fail "$id.metainfo.xml has no release $version"
  else
    fail "$name has no metainfo ($meta)"
  fi
done

# MIME packages: the shared MIME database must build from them.
mime_packages=("$usr"/share/mime/packages/*.xml)
if [ -e "${mime_packages[0]}" ]; then
  mkdir -p "$scratch/mime/packages"
  cp "${mime_packages[@]}" "$scratch/mime/packages/"
  out=$(XDG_DATA_DIRS=$scratch update-mime-database "$scratch/mime" 2>&1) && [ -z "$out" ] ||
    fail "update-mime-database on usr/share/mime/packages: $out"
fi

if [ ${#entries[@]} -gt 0 ]; then
  out=$(appstreamcli validate-tree --no-net --no-color "$root" 2>&1) ||
    fail "appstreamcli validate-tree: $out"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures problem(s) in the installed tree $root"
  exit 1
fi
echo "installed tree $root: ${#programs[@]} programs, ${#entries[@]} desktop entries checked"
