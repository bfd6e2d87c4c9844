#!/usr/bin/env bash
# Builds the Debian package and checks it as a user's system would see it:
# its files, lintian errors, the metadata validators, unpacking into a
# scratch root, and the release feed that describes it.
set -euo pipefail
cd "$(dirname "$0")/../.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
check() { if "$@"; then echo "ok: $*"; else echo "FAILED: $*" >&2; failed=1; fi; }

deb=$(OSKEL_SKIP_SETUP=1 bash scripts/package.sh | tail -1)
echo "package: $deb"

dpkg-deb --field "$deb" Package Version Depends Section
check sh -c "dpkg-deb --field '$deb' Depends | grep -q libc6"

# Its dependencies resolve on this system (nothing is installed).
check sh -c "apt-get install --simulate --yes './$deb' >/dev/null"

dpkg -x "$deb" "$scratch/root"
(cd "$scratch/root" && find . -type f -o -type l | sed 's|^\.||' | sort) > "$scratch/files"
cat "$scratch/files"
printf '%s\n' /usr/bin/oskel /usr/bin/oskel-app /usr/share/applications/com.brindlework.oskel.desktop \
  /usr/share/man/man1/oskel.1.gz /usr/share/man/man1/oskel-app.1.gz /usr/share/doc/oskel/changelog.Debian.gz \
  /usr/share/doc/oskel/copyright /usr/share/lintian/overrides/oskel /usr/share/metainfo/com.brindlework.oskel.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/com.brindlework.oskel.svg | sort > "$scratch/expected"
check diff -u "$scratch/expected" "$scratch/files"
check "$scratch/root/usr/bin/oskel" --help
check sh -c "! readelf -S '$scratch/root/usr/bin/oskel' | grep -q '\.symtab'"

# lintian's errors fail the test; its warnings are shown.
check lintian --fail-on error "$deb"
check appstreamcli validate --no-net "$scratch/root/usr/share/metainfo/com.brindlework.oskel.metainfo.xml"
for entry in "$scratch"/root/usr/share/applications/*.desktop; do
  [ -e "$entry" ] && check desktop-file-validate "$entry"
done

feed=$(bash scripts/release-feed "$deb" --url "https://example.com/oskel.deb" --notes $'Fixes "quotes"\nand lines')
echo "$feed"
check grep -q "\"sha256\": \"$(sha256sum "$deb" | cut -d' ' -f1)\"" <<<"$feed"
check grep -q "\"size\": $(stat -c %s "$deb")," <<<"$feed"
check grep -qF '"notes": "Fixes \"quotes\"\nand lines"' <<<"$feed"

exit $failed
