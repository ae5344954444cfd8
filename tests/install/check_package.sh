#!/usr/bin/env bash
# Builds the Debian package of the build into a temporary folder and checks what a user gets:
# the programs stripped with their debug information in the -dbgsym .ddeb beside it, the
# copyright and the changelog where Debian keeps them, and the metainfo's release of this
# version.
#   check_package.sh BUILD_DIR VERSION
# Exits 77 (skipped) where the system cannot build Debian packages.
set -euo pipefail
build=$1
version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps readelf; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed: the package is not checked (scripts/setup test installs it)"
    exit 77
  fi
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$out" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >cpack.log 2>&1) || {
  cat "$out/cpack.log"
  exit 1
}
deb=$(ls "$out"/kvx310-evalkit_*.deb)
doc=./usr/share/doc/kvx310-evalkit
status=0
listing=$(dpkg-deb -c "$deb")
for f in $doc/copyright $doc/changelog.gz ./usr/bin/Eval310 ./usr/bin/kvx310 ./usr/bin/kvx310-sim; do
  if ! grep -q " $f\$" <<<"$listing"; then
    echo "missing in the package: $f"
    status=1
  fi
done
ddeb=$(ls "$out"/kvx310-evalkit-dbgsym_*.ddeb 2>/dev/null || true)
debug_listing=$([ -n "$ddeb" ] && dpkg-deb -c "$ddeb" || true)
if ! grep -q '/usr/lib/debug/.build-id/.*\.debug$' <<<"$debug_listing"; then
  echo "no debug information apart: kvx310-evalkit-dbgsym_*.ddeb"
  status=1
fi
dpkg-deb -x "$deb" "$out/root"
for program in Eval310 kvx310 kvx310-sim; do
  sections=$(readelf -S -W "$out/root/usr/bin/$program")
  if grep -qE '\.debug_info|\.symtab' <<<"$sections"; then
    echo "not stripped: usr/bin/$program"
    status=1
  fi
done
if ! zcat "$out/root/$doc/changelog.gz" | head -n 1 | grep -q "^kvx310-evalkit ($version) "; then
  echo "the changelog does not begin with release $version"
  status=1
fi
metainfo=$out/root/usr/share/metainfo/org.kvx310.EvalKit.metainfo.xml
if ! grep -qE "<release version=\"$version\" date=\"[0-9]{4}-[0-9]{2}-[0-9]{2}\"/>" "$metainfo"; then
  echo "the metainfo does not name release $version with a date"
  status=1
fi
exit $status
