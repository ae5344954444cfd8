#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the tree a desktop expects, with the
# validators of the desktop entry and the metainfo where the system has them.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

id=org.kvx310.EvalKit
status=0
for f in bin/Eval310 bin/kvx310 bin/kvx310-sim share/applications/$id.desktop \
         share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/$id.svg; do
  if [ ! -e "$prefix/$f" ]; then
    echo "missing: $f"
    status=1
  fi
done
# The manual is gzipped where gzip was found at configure time.
if [ ! -e "$prefix/share/man/man1/kvx310.1.gz" ] && [ ! -e "$prefix/share/man/man1/kvx310.1" ]; then
  echo "missing: share/man/man1/kvx310.1.gz"
  status=1
fi
for f in bin/Eval310 bin/kvx310 bin/kvx310-sim; do
  if [ -e "$prefix/$f" ] && [ ! -x "$prefix/$f" ]; then
    echo "not executable: $f"
    status=1
  fi
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/$id.desktop" || status=1
else
  echo "desktop-file-validate not installed: skipped"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" || status=1
else
  echo "appstreamcli not installed: skipped"
fi
# The installed tool finds its way without the build tree.
if [ -x "$prefix/bin/kvx310" ] && ! "$prefix/bin/kvx310" --version | grep -q '^kvx310 '; then
  echo "kvx310 --version failed"
  status=1
fi
exit $status
