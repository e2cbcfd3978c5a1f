#!/usr/bin/env bash
# Packs the build tree with `cpack -G DEB` into a temporary directory and reads the package
# without installing it: every file under /usr where an installed tree has it, and the
# dependencies dpkg-shlibdeps found in the binaries.
#   DebPackageTest.sh BUILD_DIR LIBDIR [PYTHON_MODULE_FILE]
set -euo pipefail
build=$1 libdir=$2 python_module=${3:-}
if ! command -v cpack >/dev/null || ! command -v dpkg-deb >/dev/null; then
  echo "cpack or dpkg-deb is missing: the package cannot be made here"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$tmp" >"$tmp/cpack.log" 2>&1) || { cat "$tmp/cpack.log"; fail "cpack"; }
debs=("$tmp"/vorlundmime_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single package in: $(ls "$tmp")"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "vorlundmime_${version}_${arch}.deb" ] || fail "named $(basename "$deb")"

paths=$(dpkg-deb -c "$deb" | awk '{print $6}')
! grep -v '^\./usr/' <<<"$paths" || fail "files outside /usr"
lib=./usr/$libdir
for f in ./usr/bin/vormime "$lib/libvorlundmime.so.$version" "$lib/libvorlundmime.so" \
         "$lib/libvorlundsiblings.so.$version" "$lib/libvorlundsiblings.so" \
         "$lib/libvorlundplatform.so.$version" "$lib/libvorlundplatform.so.${version%%.*}" \
         "$lib/libvorlundmime_guids.a" ./usr/include/vorlundmime/platform/ComActivation.h \
         ./usr/include/vorlundmime/component/IVorlundMime.h "$lib/pkgconfig/vorlundmime.pc" \
         "$lib/cmake/VorlundMime/VorlundMimeConfig.cmake" \
         "$lib/cmake/VorlundMime/VorlundMimeTargets.cmake" ./usr/share/man/man1/vormime.1 \
         ${python_module:+./usr/lib/python3/dist-packages/$python_module}; do
  grep -qxF "$f" <<<"$paths" || fail "$f not in the package"
done

[ "$(dpkg-deb -f "$deb" Package)" = vorlundmime ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "architecture"
depends=$(dpkg-deb -f "$deb" Depends)
for d in libc6 libssl3 libstdc++6 libuuid1 ${python_module:+python3}; do
  [[ ", $depends," == *", $d "* || ", $depends," == *", $d,"* ]] || fail "Depends lacks $d: $depends"
done
# The platform library is the package's own, not something to depend on.
! grep -q vorlund <<<"$depends" || fail "depends on itself: $depends"
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -tf -)
grep -qx '\./shlibs' <<<"$control" || fail "no shlibs file in: $control"
echo "package $(basename "$deb"): files and Depends ($depends) as expected"
