#!/usr/bin/env bash
# Fetches the puredata source package (which ships libpd's wrapper) into
# build/_deps/puredata through a private deb-src list. The machine's own apt
# sources are left untouched.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
dest="${1:-$here/build/_deps/puredata}"
if [ -f "$dest/src/z_libpd.c" ] && [ -f "$dest/src/z_ringbuffer.c" ]; then
    echo "libpd sources already present in $dest"
    exit 0
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/sources.list.d"
cat > "$work/sources.list" <<LIST
deb-src http://deb.debian.org/debian bookworm main
LIST
opts=(-o "Dir::Etc::SourceList=$work/sources.list"
      -o "Dir::Etc::SourceParts=$work/sources.list.d"
      -o "Dir::State::Lists=$work/lists"
      -o "APT::Sandbox::User=root")
apt-get "${opts[@]}" -q update >/dev/null
( cd "$work" && apt-get "${opts[@]}" -q --download-only source puredata >/dev/null )
dsc="$(ls "$work"/puredata_*.dsc | head -n1)"
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
dpkg-source --no-check -x "$dsc" "$work/unpacked" >/dev/null
mv "$work/unpacked" "$dest"
if [ ! -f "$dest/src/z_libpd.c" ]; then
    echo "puredata source package has no src/z_libpd.c" >&2
    exit 1
fi
echo "libpd sources unpacked into $dest"
