#!/usr/bin/env bash
# Makes the Debian package from the clean program folder:
#   make_deb.sh ROOT VERSION OUT_DIR WORK_DIR
# The program goes to /usr/lib/tivorel/, its starter to /usr/bin/tivorel, with a desktop entry,
# icons in the hicolor theme (drawn by tools/icon/make_icon.py), a manual page and the package's
# documents. The shared libraries the programs need become dependencies (dpkg-shlibdeps).
set -euo pipefail
root=$1 version=$2 out=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
arch=$(dpkg --print-architecture)
deb=$out/tivorel_${version}_${arch}.deb

rm -rf "$work"
pkg=$work/tivorel
mkdir -p "$pkg/DEBIAN" "$pkg/usr/lib/tivorel" "$pkg/usr/bin" "$pkg/usr/share/applications" \
  "$pkg/usr/share/doc/tivorel" "$pkg/usr/share/man/man1" "$out"
cp -R "$root/." "$pkg/usr/lib/tivorel/"
mkdir -p "$pkg/usr/share/lintian/overrides"
install -m 644 "$here/lintian-overrides" "$pkg/usr/share/lintian/overrides/tivorel"
install -m 755 "$here/tivorel.sh" "$pkg/usr/bin/tivorel"
install -m 644 "$here/tivorel.desktop" "$pkg/usr/share/applications/tivorel.desktop"
for size in 16 32 48 64 128 256; do
  dir=$pkg/usr/share/icons/hicolor/${size}x${size}/apps
  mkdir -p "$dir"
  python3 "$source_dir/tools/icon/make_icon.py" --png "$size" "$dir/tivorel.png"
done
when=${SOURCE_DATE_EPOCH:-$(date +%s)}
date=$(date -R -d "@$when")
sed "s/@YEAR@/$(date -u +%Y -d "@$when")/" "$here/copyright" > "$pkg/usr/share/doc/tivorel/copyright"
printf 'tivorel (%s) unstable; urgency=medium\n\n  * Tivorel %s.\n\n -- Tivorel packagers <packages@tivorel.com>  %s\n' \
  "$version" "$version" "$date" | gzip -9n > "$pkg/usr/share/doc/tivorel/changelog.gz"
sed "s/@VERSION@/$version/" "$here/tivorel.1" | gzip -9n > "$pkg/usr/share/man/man1/tivorel.1.gz"

# Modes as the policy wants them: folders and programs 755, everything else 644.
find "$pkg" -type d -exec chmod 755 {} +
find "$pkg" -type f -exec chmod 644 {} +
chmod 755 "$pkg/usr/bin/tivorel"
while IFS= read -r -d '' f; do
  if [ "$(head -c 4 "$f" | od -An -tx1 | tr -d ' \n')" = 7f454c46 ]; then chmod 755 "$f"; fi
done < <(find "$pkg/usr/lib/tivorel" -type f -print0)

# dpkg-shlibdeps reads the source package's control file: a minimal one in the work folder.
mkdir -p "$work/debian"
printf 'Source: tivorel\n\nPackage: tivorel\nArchitecture: any\n' > "$work/debian/control"
mapfile -t programs < <(find "$pkg/usr/lib/tivorel" -type f -perm -u+x | sort)
# The libraries the host opens itself at their first use (TIVOREL_OPENED_LIBRARIES, their
# SONAMEs) are named by no program: an empty library that names them stands in for the host, so
# that their packages become dependencies with the versions their shlibs files ask for.
opened=()
if [ -n "${TIVOREL_OPENED_LIBRARIES:-}" ]; then
  for soname in $TIVOREL_OPENED_LIBRARIES; do opened+=("-l:$soname"); done
  echo 'void tivorel_opens_these(void) {}' > "$work/opened.c"
  "${CC:-cc}" -shared -o "$work/opened.so" "$work/opened.c" -Wl,--no-as-needed "${opened[@]}"
  programs+=("$work/opened.so")
fi
shlibs=$(cd "$work" && dpkg-shlibdeps -O "${programs[@]}" | sed -n 's/^shlibs:Depends=//p')
installed_size=$(du -sk --apparent-size "$pkg/usr" | cut -f1)

cat > "$pkg/DEBIAN/control" <<CONTROL
Package: tivorel
Version: $version
Architecture: $arch
Maintainer: Tivorel packagers <packages@tivorel.com>
Installed-Size: $installed_size
Depends: $shlibs, adb
Recommends: chromium | google-chrome-stable | microsoft-edge-stable | x-www-browser, android-sdk-platform-tools-common
Section: utils
Priority: optional
Description: desktop companion for Android phones
 Tivorel recognises Android phones and TV boxes plugged in by USB, works
 with them through the Android Debug Bridge (installs and removes apps,
 starts activities, forwards ports) and talks to an agent app on the device
 for its apps, contacts, messages, media and files. It also keeps a resumable
 download queue and contact backups.
 .
 Its window is a web page of the program shown in a browser's app window.
CONTROL
(cd "$pkg" && find usr -type f -print0 | sort -z | xargs -0 md5sum) > "$pkg/DEBIAN/md5sums"
chmod 644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/md5sums"

rm -f "$deb"
dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null
echo "$deb"
