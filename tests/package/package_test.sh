#!/usr/bin/env bash
# The Debian package, as a user meets it: built from this build tree with
# CPack, unpacked into a fresh root, checked by lintian, and used by a C
# program built outside the project with pkg-config and with find_package,
# which then watches the packaged substitute camera.
#
#   package_test.sh BUILD_DIR SOURCE_DIR
#
# dpkg -x stands in for an install: it puts the files down exactly as
# `dpkg -i` would, without the package database a --root install needs.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
work=$(mktemp -d)
camsim_pid=
cleanup() {
  [ -n "$camsim_pid" ] && kill "$camsim_pid" 2>/dev/null && wait "$camsim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT  # a timed-out run still stops camsim and removes its files

fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== package"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"; fail "cpack could not build the package"
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
deb="$work/out/tavolen_${version}_${arch}.deb"
[ -f "$deb" ] || { ls "$work/out"; fail "no $deb"; }

# dpkg-shlibdeps found the libraries the programs and the library link.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libavcodec libasound2 libsdl2 libturbojpeg; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done

echo "== lintian"
if ! lintian --fail-on error --tag-display-limit 0 "$deb" < /dev/null > "$work/lintian.log" 2>&1; then
  cat "$work/lintian.log"; fail "lintian reports errors"
fi
grep '^E:' "$work/lintian.log" && fail "lintian reports errors"
cat "$work/lintian.log"

echo "== files"
root="$work/root"
dpkg -x "$deb" "$root"
libdir="$root/usr/lib/$multiarch"
[ "$(readlink "$libdir/libtavolen.so.1")" = "libtavolen.so.$version" ] || fail "libtavolen.so.1 is not a link to libtavolen.so.$version"
[ "$(readlink "$libdir/libtavolen.so")" = "libtavolen.so.1" ] || fail "libtavolen.so is not a link to libtavolen.so.1"
soname=$(objdump -p "$libdir/libtavolen.so.$version" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = "libtavolen.so.1" ] || fail "soname is '$soname'"
for program in tavolen tavolen-view tavolen-host tavolen-camsim; do
  [ -x "$root/usr/bin/$program" ] || fail "no program $program"
  [ -f "$root/usr/share/man/man1/$program.1.gz" ] || fail "no man page of $program"
  said=$(LD_LIBRARY_PATH="$libdir" "$root/usr/bin/$program" --version 2>&1) || true
  [[ "$said" == *"$version"* ]] || fail "$program --version does not say $version: $said"
done
unit="$root/usr/lib/systemd/user/tavolen-host.service"
grep -qx 'ExecStart=/usr/bin/tavolen-host' "$unit" || fail "the user unit does not start /usr/bin/tavolen-host: $(cat "$unit")"
grep -qx 'prefix=/usr' "$libdir/pkgconfig/tavolen.pc" || fail "tavolen.pc does not name /usr"
for page in index.html control_members.html; do
  [ -f "$root/usr/share/doc/tavolen/html/$page" ] || fail "no reference page $page"
done

echo "== an outside program, built with pkg-config"
export PKG_CONFIG_SYSROOT_DIR="$root" PKG_CONFIG_LIBDIR="$libdir/pkgconfig"
[ "$(pkg-config --modversion tavolen)" = "$version" ] || fail "pkg-config sees version $(pkg-config --modversion tavolen)"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/outside_host" "$source_dir/tests/package/outside_host.c" \
  $(pkg-config --cflags --libs tavolen) -pthread
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR

echo "== the same, built with find_package(Tavolen)"
mkdir -p "$work/cmake-host"
cat > "$work/cmake-host/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(outside_host C)
find_package(Tavolen 1.0 REQUIRED)
find_package(Threads REQUIRED)
add_executable(outside_host "$source_dir/tests/package/outside_host.c")
target_link_libraries(outside_host PRIVATE Tavolen::tavolen Threads::Threads)
CMAKE
cmake -S "$work/cmake-host" -B "$work/cmake-host/build" -DCMAKE_PREFIX_PATH="$root/usr" \
  -DCMAKE_C_FLAGS="-std=c99 -Wall -Werror" > "$work/cmake-host.log" 2>&1 &&
  cmake --build "$work/cmake-host/build" >> "$work/cmake-host.log" 2>&1 ||
  { cat "$work/cmake-host.log"; fail "find_package(Tavolen) did not build the program"; }

echo "== run against the packaged camsim"
export LD_LIBRARY_PATH="$libdir"
loaded=$(ldd "$work/outside_host")
[[ "$loaded" == *"libtavolen.so.1 => $libdir/libtavolen.so.1 "* ]] ||
  { echo "$loaded"; fail "the program does not load the packaged library"; }
# A free port: another test may hold the one tried, so try a few.
for attempt in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 40000))
  "$root/usr/bin/tavolen-camsim" --port "$port" --quiet > "$work/camsim.log" 2>&1 &
  camsim_pid=$!
  until (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
    kill -0 "$camsim_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$camsim_pid" 2>/dev/null && break
  wait "$camsim_pid" 2>/dev/null || true
  camsim_pid=
done
[ -n "$camsim_pid" ] || { cat "$work/camsim.log"; fail "camsim could not listen"; }
"$work/outside_host" 127.0.0.1 "$port" || fail "the pkg-config program saw no pictures"
"$work/cmake-host/build/outside_host" 127.0.0.1 "$port" || fail "the find_package program saw no pictures"
echo "package test passed"
