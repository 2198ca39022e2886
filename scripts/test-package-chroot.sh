#!/usr/bin/env bash
# Installs the Debian package into a fresh Debian 12 (bookworm) root made
# with debootstrap, starts Vocarine there under Xvfb and checks that its main
# window appears, then purges the package and checks that nothing of it is
# left behind.
#   scripts/test-package-chroot.sh [vocarine_<version>_<arch>.deb]
# Without a package file it builds one with scripts/package.sh. The package
# goes in without its Recommends; the program is started once as installed
# and once with the soundfonts moved away, and must start both times.
# Needs root (uses sudo when not root) and Debian's package mirror; the
# downloaded base system is kept in build/chroot/ for the next run, the root
# itself is made afresh each time and removed at the end.
# A picture of the screen with the window is left in build/chroot/window.png
# and, started with no soundfont on the system, in window-no-soundfont.png
# (.xwd when ImageMagick is missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ $(id -u) -ne 0 ]]; then
  exec sudo "$0" "$@"
fi

mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
suite=bookworm
cache=$root/build/chroot
mkdir -p "$cache"

"$root/scripts/install-deps.sh" --chroot

if [[ $# -ge 1 ]]; then
  deb=$(realpath "$1")
else
  "$root/scripts/package.sh" "$root/build/package"
  deb=$(ls "$root"/build/package/vocarine_*.deb)
fi
[[ -f $deb ]] || { echo "no package file $deb" >&2; exit 2; }
package=$(dpkg-deb -f "$deb" Package)
echo "== Package: $(basename "$deb") =="

step() { echo "== $* =="; }
fail() { echo "FAULT: $*" >&2; exit 1; }

tarball=$cache/$suite-minbase.tgz
if [[ ! -f $tarball ]]; then
  step "Downloading the $suite base system (kept in $tarball)"
  debootstrap --variant=minbase --make-tarball="$tarball.part" "$suite" "$cache/tarball-work" "$mirror" >/dev/null
  rm -rf "$cache/tarball-work"
  mv "$tarball.part" "$tarball"
fi

target=$(mktemp -d "$cache/root.XXXXXX")
chmod 755 "$target"
xvfb_pid=
cleanup() {
  set +e
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null
  fi
  # Whatever still runs inside the root goes before it is unmounted.
  for proc in /proc/[0-9]*; do
    if [[ $(readlink "$proc/root" 2>/dev/null) == "$target" ]]; then
      kill -9 "${proc#/proc/}" 2>/dev/null
    fi
  done
  sleep 0.5
  local still_mounted=false
  for mount in var/cache/apt/archives dev/pts dev proc sys; do
    if mountpoint -q "$target/$mount"; then
      umount "$target/$mount" || umount -l "$target/$mount"
    fi
    mountpoint -q "$target/$mount" && still_mounted=true
  done
  # A bind mount left in place would take the host's files with the root.
  if $still_mounted; then
    echo "Something is still mounted in $target; it is left in place." >&2
  else
    rm -rf --one-file-system "$target"
  fi
}
trap cleanup EXIT

step "Fresh $suite root in $target"
debootstrap --variant=minbase --unpack-tarball="$tarball" "$suite" "$target" "$mirror" >/dev/null
mount -t proc proc "$target/proc"
mount -t sysfs sysfs "$target/sys"
mount --bind /dev "$target/dev"
mount --bind /dev/pts "$target/dev/pts"
# Downloaded packages are kept for the next run.
mkdir -p "$cache/archives/partial"
mount --bind "$cache/archives" "$target/var/cache/apt/archives"
cp /etc/resolv.conf "$target/etc/resolv.conf"
cat >"$target/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb http://deb.debian.org/debian-security $suite-security main
EOF
# No services start inside the root.
printf '#!/bin/sh\nexit 101\n' >"$target/usr/sbin/policy-rc.d"
chmod +x "$target/usr/sbin/policy-rc.d"

in_root() {
  chroot "$target" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}
apt_get() {
  in_root apt-get -q -y -o Dpkg::Use-Pty=0 "$@"
}

step "Test tools in the root: Xvfb, xdotool, xwininfo, xwd"
if ! { apt_get update && apt_get dist-upgrade &&
  apt_get install --no-install-recommends xvfb xdotool x11-utils x11-apps; } >"$cache/tools.log" 2>&1; then
  cat "$cache/tools.log" >&2
  fail "the test tools could not be installed in the root"
fi

# Everything in the root before the package, to compare with after its purge.
snapshot() {
  (cd "$target" && find . -xdev \
    \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./tmp -o -path ./run \
    -o -path ./var/cache/apt -o -path ./var/cache/man -o -path ./var/lib/apt/lists -o -path ./var/log \) -prune -o -print) |
    sed 's/^\.//' | sort
}
snapshot >"$cache/before.txt"
dpkg-query --admindir="$target/var/lib/dpkg" -W -f='${Package}\n' | sort >"$cache/packages-before.txt"

step "apt install --no-install-recommends ./$(basename "$deb")"
cp "$deb" "$target/tmp/"
apt_get install --no-install-recommends "/tmp/$(basename "$deb")" >"$cache/install.log" 2>&1 ||
  { cat "$cache/install.log" >&2; fail "apt could not install the package"; }
sed -n '/^The following NEW packages/,/^[0-9]* upgraded/p' "$cache/install.log" | sed 's/^/  /'
in_root dpkg-query -W -f='${Package} ${Version} ${Status}\n' "$package"
[[ -x $target/usr/bin/vocarine ]] || fail "/usr/bin/vocarine is not installed"
echo "Soundfonts in the root: $(find "$target/usr/share/sounds" -name '*.sf[23]' -printf '%P ' 2>/dev/null || true)"

# Starts vocarine as a user would from a folder without majortonic.txt,
# checks that its main window appears and stays, pictures the screen into
# $cache/$1.png, and ends the program.
display=:77
start_vocarine() {
  local name=$1 window='' vocarine_pid
  mkdir -p "$target/tmp/home"
  chmod 700 "$target/tmp/home"
  chroot "$target" sh -c "cd /tmp/home && env -i PATH=/usr/bin:/bin HOME=/tmp/home DISPLAY=$display LANG=C.UTF-8 XDG_RUNTIME_DIR=/tmp/home vocarine >/tmp/vocarine.log 2>&1 & echo \$!" >"$cache/vocarine.pid"
  vocarine_pid=$(cat "$cache/vocarine.pid")
  for _ in $(seq 100); do
    window=$(in_root env DISPLAY=$display xdotool search --onlyvisible --name '^Vocarine$' 2>/dev/null | head -n1) || true
    [[ -n $window ]] && break
    kill -0 "$vocarine_pid" 2>/dev/null || fail "vocarine ended before its window appeared: $(cat "$target/tmp/vocarine.log")"
    sleep 0.2
  done
  [[ -n $window ]] || fail "no visible window named Vocarine appeared within 20 s"
  sleep 2
  kill -0 "$vocarine_pid" 2>/dev/null || fail "vocarine ended after its window appeared"
  in_root env DISPLAY=$display xwininfo -id "$window" | grep -E 'xwininfo:|Width|Height|Map State' | sed 's/^ */  /'
  in_root env DISPLAY=$display xprop -id "$window" WM_CLASS | sed 's/^/  /' || true
  echo "The main window appeared (window $window; process $vocarine_pid still running 2 s later)."
  in_root env DISPLAY=$display xwd -root -silent >"$cache/$name.xwd"
  if command -v convert >/dev/null && convert "$cache/$name.xwd" -trim "$cache/$name.png" 2>/dev/null; then
    rm -f "$cache/$name.xwd"
    echo "Picture of the screen: $cache/$name.png"
  fi
  if [[ -s $target/tmp/vocarine.log ]]; then
    echo "vocarine wrote on its terminal:"
    sed 's/^/  /' "$target/tmp/vocarine.log"
  fi
  kill "$vocarine_pid"
  for _ in $(seq 50); do
    kill -0 "$vocarine_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$vocarine_pid" 2>/dev/null && fail "vocarine did not end on SIGTERM"
  rm -rf "$target/tmp/home" "$target/tmp/vocarine.log"
}

chroot "$target" sh -c "Xvfb $display -screen 0 1280x1024x24 -nolisten tcp >/tmp/xvfb.log 2>&1 & echo \$!" >"$cache/xvfb.pid"
xvfb_pid=$(cat "$cache/xvfb.pid")
for _ in $(seq 50); do
  in_root env DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
  sleep 0.2
done
in_root env DISPLAY=$display xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start: $(cat "$target/tmp/xvfb.log")"

step "Start vocarine under Xvfb"
start_vocarine window

# libfluidsynth3 brings a soundfont with it on Debian 12, so the soundfont
# folders are moved aside for this start and put back afterwards.
step "Start vocarine under Xvfb with no soundfont on the system"
for folder in sf2 sf3; do
  [[ -e $target/usr/share/sounds/$folder ]] && mv "$target/usr/share/sounds/$folder" "$target/usr/share/sounds/$folder.hidden"
done
start_vocarine window-no-soundfont
for folder in sf2 sf3; do
  [[ -e $target/usr/share/sounds/$folder.hidden ]] && mv "$target/usr/share/sounds/$folder.hidden" "$target/usr/share/sounds/$folder"
done
kill "$xvfb_pid" 2>/dev/null || true
xvfb_pid=
rm -f "$target/tmp/xvfb.log" "$target/tmp/$(basename "$deb")"

step "apt purge $package, then apt autoremove --purge"
apt_get purge "$package" | grep -E '^(Removing|Purging)|^[0-9]+ upgraded' | sed 's/^/  /' || true
apt_get autoremove --purge | grep -E '^[0-9]+ upgraded' | sed 's/^/  /' || true

step "Nothing of $package left"
faults=0
if in_root dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -qv '^not-installed\|^$'; then
  echo "FAULT: dpkg still knows $package: $(in_root dpkg-query -W -f='${Status}' "$package")" >&2
  faults=$((faults + 1))
fi
while IFS= read -r path; do
  if [[ -e $target$path || -L $target$path ]]; then
    echo "FAULT: $path of the package is still there" >&2
    faults=$((faults + 1))
  fi
done < <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')
snapshot >"$cache/after.txt"
dpkg-query --admindir="$target/var/lib/dpkg" -W -f='${Package}\n' | sort >"$cache/packages-after.txt"
# apt's autoremove keeps a dependency that another installed package still
# wants (say as one of its alternatives); such a package and its files are
# that package's, not vocarine's, and are listed without counting as faults.
comm -13 "$cache/packages-before.txt" "$cache/packages-after.txt" >"$cache/packages-kept.txt"
: >"$cache/kept-files.txt"
while IFS= read -r kept; do
  wanted_by=$(in_root apt-cache rdepends --installed --no-suggests --no-enhances "$kept" | sed -n '3,$p' | tr -d ' |' | sort -u | paste -sd' ')
  echo "Kept by apt: $kept (wanted by ${wanted_by:-nothing?})"
  [[ $kept == "$package" ]] && { echo "FAULT: $package is still installed" >&2; faults=$((faults + 1)); }
  in_root dpkg-query -L "$kept" >>"$cache/kept-files.txt"
  find "$target/var/lib/dpkg/info" -name "$kept.*" -o -name "$kept:*" | sed "s|^$target||" >>"$cache/kept-files.txt"
done <"$cache/packages-kept.txt"
comm -23 "$cache/packages-before.txt" "$cache/packages-after.txt" >"$cache/packages-gone.txt"
if [[ -s $cache/packages-gone.txt ]]; then
  echo "FAULT: packages that were installed before the package came are gone:" >&2
  sed 's/^/  /' "$cache/packages-gone.txt" >&2
  faults=$((faults + 1))
fi
comm -13 "$cache/before.txt" "$cache/after.txt" | grep -vxFf <(sort -u "$cache/kept-files.txt") >"$cache/new-files.txt" || true
if [[ -s $cache/new-files.txt ]]; then
  echo "FAULT: files that were not there before the package came:" >&2
  sed 's/^/  /' "$cache/new-files.txt" >&2
  faults=$((faults + 1))
fi
comm -23 "$cache/before.txt" "$cache/after.txt" >"$cache/gone-files.txt"
if [[ -s $cache/gone-files.txt ]]; then
  echo "FAULT: files that were there before the package came are gone:" >&2
  sed 's/^/  /' "$cache/gone-files.txt" >&2
  faults=$((faults + 1))
fi
if ((faults > 0)); then
  echo "test-package-chroot.sh: $faults fault(s)" >&2
  exit 1
fi
echo "No file of $package is left, dpkg no longer knows it, and the root holds the files and packages it held before (but for those apt kept, listed above)."
echo "test-package-chroot.sh: passed"
