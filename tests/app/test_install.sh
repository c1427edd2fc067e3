#!/usr/bin/env bash
# Installs the built program into a temporary prefix and as a Debian package,
# and starts each installed copy: it must run and keep its data in the user's
# data folder. Usage: test_install.sh <build folder>
set -euo pipefail

build=$(cd "$1" && pwd)
work=$(mktemp -d)
pid=""
installed_package=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  [ -n "$installed_package" ] && dpkg -r brevicast >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Starts program with an empty home of its own and waits until the database
# is made in the user's data folder; then ends it by its process id.
start_installed() {
  local program=$1 home=$2
  mkdir -p "$home/runtime"
  chmod 700 "$home/runtime"
  env -u BREVICAST_HOME HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/runtime" \
    QT_QPA_PLATFORM=offscreen "$program" >"$home/out.log" 2>&1 &
  pid=$!
  local db="$home/.local/share/Brevicast/Brevicast.db"
  for _ in $(seq 1 100); do
    [ -f "$db" ] && break
    kill -0 "$pid" 2>/dev/null || { cat "$home/out.log" >&2; fail "$program ended at start"; }
    sleep 0.2
  done
  [ -f "$db" ] || { cat "$home/out.log" >&2; fail "$program made no database in $db"; }
  kill -0 "$pid" 2>/dev/null || fail "$program did not keep running"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=""
}

expect_files() {
  local root=$1
  shift
  for f in "$@"; do
    [ -f "$root/$f" ] || fail "missing $root/$f"
  done
}

installed_files=(
  bin/brevicast
  libexec/brevicast/brevicast-xls
  share/doc/brevicast/Brevicast.html
  share/applications/brevicast.desktop
)
for size in 16 32 48 64 128 256; do
  installed_files+=("share/icons/hicolor/${size}x${size}/apps/brevicast.png")
done

# 1. cmake --install into a temporary prefix.
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
expect_files "$prefix" "${installed_files[@]}"
[ -x "$prefix/bin/brevicast" ] || fail "the program is not executable"
grep -qx "Exec=brevicast %f" "$prefix/share/applications/brevicast.desktop" || fail "desktop entry without Exec"
grep -qx "Icon=brevicast" "$prefix/share/applications/brevicast.desktop" || fail "desktop entry without Icon"
file_type=$(head -c 8 "$prefix/share/icons/hicolor/48x48/apps/brevicast.png" | od -An -c | tr -d ' ')
[ "$file_type" = "211PNG\r\n032\n" ] || fail "the icon is no PNG file"
start_installed "$prefix/bin/brevicast" "$work/home1"
[ "$(ls "$prefix/bin")" = "brevicast" ] || fail "the program wrote into its own folder: $(ls "$prefix/bin")"

# 2. The Debian package.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/brevicast_*.deb)
listing=$(dpkg-deb -c "$deb")
for f in "${installed_files[@]}"; do
  grep -q " \./usr/$f\$" <<<"$listing" || fail "the package lacks /usr/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libqt6network6 libqt6printsupport6 libsqlite3-0 libgmime-3.0-0 libqt6gui6 fonts-dejavu-core; do
  grep -q "$d" <<<"$depends" || fail "the package does not depend on $d: $depends"
done

if dpkg -s brevicast >/dev/null 2>&1; then
  fail "a brevicast package is installed already; the test does not replace it"
fi
# dpkg waits for nobody: another installation may hold its lock a moment.
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  if dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
    installed_package=yes
    break
  fi
  grep -q "lock" "$work/dpkg.log" || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
  sleep 3
done
[ -n "$installed_package" ] || fail "dpkg stayed locked"
expect_files /usr "${installed_files[@]}"
start_installed /usr/bin/brevicast "$work/home2"
dpkg -r brevicast >/dev/null
installed_package=""
[ ! -e /usr/bin/brevicast ] || fail "dpkg -r left /usr/bin/brevicast"
echo "PASS: installed into a prefix and as $(basename "$deb")"
