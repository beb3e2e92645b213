#!/usr/bin/env bash
# Installs the Debian package in a throwaway root and takes it away again, leaving
# this machine as it was: an overlay over / (changes go to a temporary folder) in a
# mount namespace of its own, entered with chroot. Checks that the package installs,
# that jetdb runs and both man pages show, and that a purge leaves none of its files.
# Needs root and overlayfs. Usage: scripts/try-package.sh build/package/zivadiduz_*.deb
set -euo pipefail
deb=$(realpath "${1:?the .deb to try}")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{upper,work,merged,pkg}
cp "$deb" "$root/pkg/package.deb"
unshare -m sh -euc '
  root=$1
  mount -t overlay overlay -o "lowerdir=/,upperdir=$root/upper,workdir=$root/work" "$root/merged"
  mount --bind /proc "$root/merged/proc"
  mount --rbind /dev "$root/merged/dev"
  mkdir -p "$root/merged/pkg" && mount --bind "$root/pkg" "$root/merged/pkg"
  chroot "$root/merged" sh -euc "
    dpkg -i /pkg/package.deb
    jetdb --version
    MANWIDTH=80 man jetdb | head -n 4
    MANWIDTH=80 man zivadiduz | head -n 4
    dpkg -P zivadiduz
    for f in /usr/bin/jetdb /usr/bin/zivadiduz /usr/share/man/man1/jetdb.1.gz; do
      if [ -e \$f ]; then echo \"\$f is still there after the purge\"; exit 1; fi
    done
    echo \"installed, ran and purged cleanly\"
  "
' sh "$root"
