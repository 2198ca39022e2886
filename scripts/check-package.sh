#!/usr/bin/env bash
# Checks a built vocarine_<version>_<arch>.deb:
#   - it holds every path of packaging/package-files.txt and nothing else,
#     every cell set of data/cells/, and for every program in /usr/bin a man
#     page and a <binary> line in the AppStream metadata;
#   - the desktop entries pass desktop-file-validate, the AppStream metadata
#     passes appstreamcli validate with no error or warning;
#   - lintian finds no error (its warnings and notes are shown);
#   - the program's RtAudio module is where the program looks for it;
#   - Depends names the package of every library a program links, and
#     fonts-liberation, qt6-qpa-plugins and libfluidsynth3 and libaubio5 (loaded at run time); Recommends is the soundfont;
#   - the file name, the control file, the changelog, the metadata and the
#     man pages give the same version.
# Prints every fault it finds, then exits 1 if there was any.
#   scripts/check-package.sh build/package/vocarine_0.1.0_amd64.deb
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ $# -ne 1 || ! -f $1 ]]; then
  echo "usage: $0 vocarine_<version>_<arch>.deb" >&2
  exit 2
fi
deb=$(realpath "$1")
expected_list=$root/packaging/package-files.txt
# Depends that no linked library brings: the design's fonts, Qt's platform plugins.
depends_wanted=(fonts-liberation qt6-qpa-plugins libfluidsynth3 libaubio5)
recommends_wanted='fluid-soundfont-gm | timgm6mb-soundfont'

faults=0
fault() {
  echo "FAULT: $*" >&2
  faults=$((faults + 1))
}
section_start=0
section() {
  echo "== $* =="
  section_start=$faults
}
# Says what passed, when the section found no fault.
ok() {
  if ((faults == section_start)); then echo "ok: $*"; fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
mkdir "$tree"
dpkg-deb -x "$deb" "$tree" || { echo "FAULT: dpkg-deb cannot unpack $deb" >&2; exit 1; }
field() { dpkg-deb -f "$deb" "$1"; }

# Files (not folders) of the package, as absolute paths.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort >"$work/files"

section "File list"
mapfile -t patterns < <(sed -e 's/#.*//' -e 's/[[:space:]]*$//' "$expected_list" | grep -v '^$')
for pattern in "${patterns[@]}"; do
  matched=false
  while IFS= read -r file; do
    # shellcheck disable=SC2053  # the pattern is meant to match as a glob
    if [[ $file == $pattern ]]; then
      matched=true
      break
    fi
  done <"$work/files"
  $matched || fault "the package has no $pattern (packaging/package-files.txt)"
done
while IFS= read -r file; do
  listed=false
  for pattern in "${patterns[@]}"; do
    # shellcheck disable=SC2053
    if [[ $file == $pattern ]]; then
      listed=true
      break
    fi
  done
  $listed || fault "the package holds $file, which packaging/package-files.txt does not list"
done <"$work/files"
for cells in "$root"/data/cells/*.txt; do
  grep -qxF "/usr/share/vocarine/$(basename "$cells")" "$work/files" ||
    fault "the cell set $(basename "$cells") is missing from /usr/share/vocarine"
done
metainfo=("$tree"/usr/share/metainfo/*.metainfo.xml)
programs=()
for program in "$tree"/usr/bin/*; do
  [[ -e $program ]] || continue
  name=$(basename "$program")
  programs+=("$program")
  [[ -x $program ]] || fault "/usr/bin/$name is not executable"
  grep -qxF "/usr/share/man/man1/$name.1.gz" "$work/files" || fault "/usr/bin/$name has no man page /usr/share/man/man1/$name.1.gz"
  grep -qF "<binary>$name</binary>" "${metainfo[@]}" 2>/dev/null || fault "/usr/bin/$name is not named in <provides> of the AppStream metadata"
done
((${#programs[@]} > 0)) || fault "the package has no program in /usr/bin"
ok "$(wc -l <"$work/files") files checked against packaging/package-files.txt"

section "Desktop entries"
desktops=("$tree"/usr/share/applications/*.desktop)
for desktop in "${desktops[@]}"; do
  [[ -f $desktop ]] || continue
  out=$(desktop-file-validate "$desktop" 2>&1)
  rc=$?
  [[ -n $out ]] && echo "${out//"$tree"/}"
  if ((rc != 0)) || grep -qE ': (error|warning):' <<<"$out"; then
    fault "desktop-file-validate finds errors or warnings in ${desktop#"$tree"}"
  else
    ok "desktop-file-validate ${desktop#"$tree"}"
  fi
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  compgen -G "$tree/usr/share/icons/hicolor/*/apps/$icon.*" >/dev/null ||
    fault "the icon $icon of ${desktop#"$tree"} is not in the package"
done

section "AppStream metadata"
for file in "${metainfo[@]}"; do
  [[ -f $file ]] || { fault "the package has no AppStream metadata"; continue; }
  id=$(basename "$file" .metainfo.xml)
  grep -qF "<id>$id</id>" "$file" || fault "the <id> of ${file#"$tree"} is not $id"
  grep -qF "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$file" ||
    fault "${file#"$tree"} does not launch $id.desktop"
  [[ -f $tree/usr/share/applications/$id.desktop ]] || fault "the desktop entry $id.desktop is not in the package"
done
# validate-tree reads the metadata together with the desktop entries and icons it names.
out=$(appstreamcli validate-tree --no-net --explain "$tree" 2>&1)
rc=$?
echo "$out"
if ((rc != 0)) || grep -qE '^ *[EW]: ' <<<"$out"; then
  fault "appstreamcli validate-tree finds errors or warnings"
else
  ok "appstreamcli validate-tree --no-net"
fi

section "lintian"
# lintian lists errors (E), warnings (W), notes (I) and pedantic hints (P).
out=$(lintian --display-level '>=pedantic' --fail-on none "$deb" 2>&1)
rc=$?
out=$(grep -v 'running with root privileges is not recommended' <<<"$out")
[[ -n $out ]] && echo "$out"
if ((rc != 0)); then
  fault "lintian did not run (exit status $rc)"
elif grep -q '^E: ' <<<"$out"; then
  fault "lintian finds errors"
else
  ok "lintian: no errors; $(grep -c '^W: ' <<<"$out") warnings, $(grep -c '^I: ' <<<"$out") notes"
fi

section "Modules"
# The program finds its RtAudio module by a path relative to its own place.
module_path=$(strings "$tree/usr/bin/vocarine" | grep -o -m1 '\.\./[^ ]*/vocarine-rtaudio\.so$')
if strings "$tree/usr/bin/vocarine" | grep -q '^/.*/vocarine-rtaudio\.so$'; then
  fault "/usr/bin/vocarine names a module in the folder it was built in"
fi
if [[ -z $module_path ]]; then
  fault "/usr/bin/vocarine names no path to vocarine-rtaudio.so"
elif [[ ! -f $tree/usr/bin/$module_path ]]; then
  fault "/usr/bin/vocarine looks for its module at /usr/bin/$module_path, which the package does not hold"
else
  ok "/usr/bin/vocarine finds its module at $(realpath -m "/usr/bin/$module_path")"
fi

section "Dependencies"
depends=$(field Depends)
recommends=$(field Recommends)
echo "Depends: $depends"
echo "Recommends: $recommends"
dependency_names=$(sed -e 's/([^)]*)//g' -e 's/[,|]/\n/g' <<<"$depends" | sed -e 's/[[:space:]]//g' | grep -v '^$')
for wanted in "${depends_wanted[@]}"; do
  grep -qxF "$wanted" <<<"$dependency_names" || fault "Depends lacks $wanted"
done
[[ $recommends == "$recommends_wanted" ]] || fault "Recommends is \"$recommends\", not \"$recommends_wanted\""
# Every shared library a program of the package links directly comes from a
# package that Depends names.
while IFS= read -r elf; do
  resolved=$(ldd "$elf")
  while IFS= read -r library; do
    [[ $library == ld-linux* ]] && continue  # the dynamic loader, of libc6
    path=$(awk -v lib="$library" '$1 == lib && $2 == "=>" { print $3 }' <<<"$resolved")
    [[ $path == /* ]] || { fault "${elf#"$tree"} links $library, which is not found on this machine"; continue; }
    owner=
    for candidate in "$path" "$(realpath "$path")" "/usr$path" "/usr$(realpath "$path")"; do
      owner=$(dpkg-query -S "$candidate" 2>/dev/null | head -n1 | cut -d: -f1)
      [[ -n $owner ]] && break
    done
    if [[ -z $owner ]]; then
      fault "no installed package owns $path, which ${elf#"$tree"} links"
    elif ! grep -qxF "$owner" <<<"$dependency_names"; then
      fault "${elf#"$tree"} links $library of $owner, which Depends does not name"
    fi
  done < <(objdump -p "$elf" | awk '$1 == "NEEDED" { print $2 }')
done < <(find "$tree" -type f -exec sh -c 'head -c 4 "$1" | grep -q "ELF"' _ {} \; -print)
ok "Depends checked against the linked libraries"

section "Version"
version=$(field Version)
arch=$(field Architecture)
[[ $(basename "$deb") == "$(field Package)_${version}_${arch}.deb" ]] ||
  fault "the file name $(basename "$deb") does not match the package $(field Package) $version $arch"
changelog_version=$(zcat "$tree/usr/share/doc/vocarine/changelog.gz" 2>/dev/null | sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p')
[[ $changelog_version == "$version" ]] || fault "the changelog's latest version is \"$changelog_version\", the package's $version"
for file in "${metainfo[@]}"; do
  [[ -f $file ]] || continue
  release=$(grep -o '<release version="[^"]*"' "$file" | head -n1 | cut -d'"' -f2)
  [[ $release == "$version" ]] || fault "the latest release of ${file#"$tree"} is \"$release\", the package's $version"
done
for page in "$tree"/usr/share/man/man*/*.gz; do
  [[ -f $page ]] || continue
  zcat "$page" | grep -q "^\.TH .*\"Vocarine $version\"" || fault "the man page ${page#"$tree"} does not give the version $version"
done
ok "version $version"

if ((faults > 0)); then
  echo "check-package.sh: $faults fault(s) in $(basename "$deb")" >&2
  exit 1
fi
echo "check-package.sh: $(basename "$deb") passes every check"
