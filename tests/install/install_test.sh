#!/usr/bin/env bash
# Installs a build into a temporary prefix and uses it as an outside host would: builds
# qvhost.c once with pkg-config and once as a CMake project with find_package(QVLib), and runs
# both against the simulator, which must report the firmware version it was started with.
#
# usage: install_test.sh BUILD_DIR Z31SIM SANITIZE LIBDIR C_COMPILER CMAKE
#   SANITIZE is the build's sanitizer list (may be empty): the host is built with it too, since
#   the installed library then needs the sanitizer runtime.
set -euo pipefail

build_dir=$1
z31sim=$2
sanitize=$3
libdir=$4
cc=$5
cmake=$6
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d /tmp/qvlib-install-XXXXXX)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

prefix=$work/prefix
step() { echo "== $*"; }

step "install into $prefix"
timeout 120 "$cmake" --install "$build_dir" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "cmake --install"; }

step "installed files"
for f in "$libdir/libqvlib.so.1.0.0" "$libdir/libqvlib.so.1" "$libdir/libqvlib.so" \
    include/qvlib.h "$libdir/pkgconfig/qvlib.pc" "$libdir/cmake/QVLib/QVLibConfig.cmake" \
    "$libdir/cmake/QVLib/QVLibConfigVersion.cmake" "$libdir/cmake/QVLib/QVLibTargets.cmake" \
    bin/DevodTool share/applications/devodtool.desktop \
    share/icons/hicolor/48x48/apps/devodtool.png share/icons/hicolor/32x32/apps/devodtool.png \
    share/man/man1/qvctl.1 share/man/man1/devodtool.1; do
    [ -e "$prefix/$f" ] || fail "$f is not installed"
done
# Only what a user runs or builds against: no simulator, test, benchmark or demo program.
unwanted=$(cd "$prefix" && find . \( -name 'z31*' -o -iname '*test*' -o -name 'bench*' \
    -o -name 'qvdemo*' -o -name '*PipeBridge*' -o -name '*gtest*' -o -name '*.a' \) -print)
[ -z "$unwanted" ] || fail "installed test-only files: $unwanted"
soname=$(readelf -d "$prefix/$libdir/libqvlib.so.1.0.0" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libqvlib.so.1" ] || fail "SONAME is '$soname'"
includes=$(grep '^[[:space:]]*#[[:space:]]*include' "$prefix/include/qvlib.h" | tr -s ' ')
[ "$includes" = "#include <stdint.h>" ] || fail "qvlib.h includes: $includes"

flags=(-std=c99 -Wall -Wextra -Werror)
if [ -n "$sanitize" ]; then
    flags+=("-fsanitize=$sanitize" -fno-omit-frame-pointer)
fi

step "build with pkg-config"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
[ "$(pkg-config --modversion qvlib)" = "1.0.0" ] || fail "pkg-config --modversion qvlib"
# shellcheck disable=SC2046
"$cc" "${flags[@]}" -o "$work/qvhost-pc" "$here/qvhost.c" $(pkg-config --cflags --libs qvlib) ||
    fail "building with pkg-config"

step "build with find_package(QVLib)"
timeout 120 "$cmake" -S "$here" -B "$work/cmake-host" -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
    -DCMAKE_C_FLAGS="${flags[*]}" >"$work/host-configure.log" 2>&1 ||
    { cat "$work/host-configure.log"; fail "configuring the CMake host"; }
timeout 120 "$cmake" --build "$work/cmake-host" >"$work/host-build.log" 2>&1 ||
    { cat "$work/host-build.log"; fail "building the CMake host"; }

export LD_LIBRARY_PATH=$prefix/$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
for host in "$work/qvhost-pc" "$work/cmake-host/qvhost"; do
    lib=$(ldd "$host" | sed -n 's/.*libqvlib\.so\.1 => \([^ ]*\).*/\1/p')
    [ "$lib" = "$prefix/$libdir/libqvlib.so.1" ] || fail "$host loads libqvlib.so.1 from '$lib'"
done

step "run against the simulator"
fw="7.3.$$"
ports=$work/ports
mkdir "$ports"
export QVLIB_PORT_DIR=$ports
"$z31sim" --port-dir "$ports" --port 3 --mode download --nmea-baud 115200 \
    --command-baud 115200 --id Z40P012 --fw "$fw" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 500); do
    [ -e "$ports/com3" ] && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.log"; fail "the simulator ended"; }
    sleep 0.02
done
[ -e "$ports/com3" ] || fail "the simulator made no $ports/com3 within 10 s"

# In a folder of its own: no model.txt there, so the built-in models apply.
cd "$work"
for host in "$work/qvhost-pc" "$work/cmake-host/qvhost"; do
    out=$(timeout 30 "$host" 3) || fail "$host 3 exited with $?: $out"
    [ "$out" = "firmware: $fw" ] || fail "$host 3 printed '$out', not 'firmware: $fw'"
    echo "$host 3: $out"
done
out=$(timeout 60 "$work/qvhost-pc" --find Z40PRO) || fail "qvhost --find exited with $?: $out"
# The library's own diagnostics of the probe may come between the lines of the host.
found=$(echo "$out" | grep '^found: ' || true)
[ "$found" = "found: COM3" ] || fail "qvhost --find Z40PRO found '$found', not COM3: $out"
echo "$out" | grep -qx "firmware: $fw" || fail "qvhost --find Z40PRO printed '$out'"
echo "qvhost --find Z40PRO: $found, firmware: $fw"
echo "PASS"
