#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and uses it from outside: the installed
# vormime registers the installed modules and reads a message from another directory, and
# walk_parts is built against the installed headers and libraries, once by find_package and
# once by pkg-config alone, and walks the sample message.
#   InstallTest.sh BUILD_DIR SOURCE_DIR LIBDIR [CXXFLAGS]
set -euo pipefail
build=$1 src=$2 libdir=$3 flags=${4:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix lib=$tmp/prefix/$3
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/vormime "$libdir"/libvorlundmime.so "$libdir"/libvorlundsiblings.so \
         "$libdir"/libvorlundplatform.so "$libdir"/libvorlundmime_guids.a \
         include/vorlundmime/platform/ComActivation.h include/vorlundmime/platform/OleAuto.h \
         include/vorlundmime/component/IVorlundMime.h "$libdir"/pkgconfig/vorlundmime.pc \
         "$libdir"/cmake/VorlundMime/VorlundMimeConfig.cmake share/man/man1/vormime.1; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
[ ! -e "$prefix/include/vorlundmime/platform/CryptInternal.h" ] || fail "internal header installed"
for name in vorlundmime vorlundsiblings vorlundplatform; do
  objdump -p "$lib/lib$name.so" | grep -q "SONAME *lib$name\.so\.[0-9]*$" || fail "$name: no SONAME"
done
# Nothing installed may lead back into the build tree.
for f in "$prefix"/bin/vormime "$lib"/*.so; do
  ! readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -q "$build" || fail "$f has a path into $build"
done

# A fresh platform root: register, then a message command from elsewhere.
export VORLUND_ROOT=$tmp/root
out=$("$prefix/bin/vormime" register) || fail "register: $out"
expected="registered $(realpath "$lib/libvorlundmime.so")
registered $(realpath "$lib/libvorlundsiblings.so")"
[ "$out" = "$expected" ] || fail "register said: $out"
mkdir "$tmp/elsewhere" && cp "$src/examples/sample.eml" "$tmp/elsewhere/"
out=$(cd "$tmp/elsewhere" && "$prefix/bin/vormime" show sample.eml 2>&1) || fail "show: $out"
grep -q 'Preisliste März.txt' <<<"$out" || fail "show gave: $out"

# Against the headers alone: the sources are copied out of the tree.
mkdir -p "$tmp/outside"
cp -r "$src/examples/outside" "$src/examples/walk_parts.cpp" "$tmp/outside/"
cmake -S "$tmp/outside/outside" -B "$tmp/by-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_CXX_FLAGS="$flags" >/dev/null || fail "find_package build did not configure"
cmake --build "$tmp/by-cmake" >/dev/null || fail "find_package build failed"
export PKG_CONFIG_PATH=$lib/pkgconfig
# shellcheck disable=SC2046,SC2086
c++ -std=c++20 $flags "$tmp/outside/walk_parts.cpp" $(pkg-config --cflags --libs vorlundmime) \
    -Wl,-rpath,"$lib" -o "$tmp/by-pkg-config" || fail "pkg-config build failed"
for program in "$tmp/by-cmake/walk_parts" "$tmp/by-pkg-config"; do
  out=$(cd "$tmp/elsewhere" && "$program" sample.eml) || fail "$program: $out"
  diff <(echo "$out") "$src/tests/install/sample_parts.txt" || fail "$program walked otherwise"
done
echo "installed tree, registration and both outside builds: passed"
