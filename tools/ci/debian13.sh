#!/usr/bin/env bash
# Runs the README's test command in a Debian 13 (trixie) chroot: a fresh minimal system, the
# packages of tools/install-deps.sh, then configure, build and every test in network and IPC
# namespaces of their own (only loopback, up), so the chroot's Xvfb, D-Bus and compositors meet
# nothing of the machine's. Ends with 1 and names the failing tests when any fail. Run as root.
#
#   tools/ci/debian13.sh                 the whole check (what CI runs)
#   tools/ci/debian13.sh --shell [CMD]   the same chroot, prepared and installed, with a shell (or
#                                        CMD) in /src/mivex inside the namespaces instead of the tests
#
# Cached under MIVEX_CI_CACHE (default /var/cache/mivex-ci), so a second run fetches nothing:
#   debian13-minbase.tar   the system debootstrap made (rm it to make it anew)
#   debian13-apt/          apt's package lists and downloaded packages
#   debian13/              the chroot of the last run, made anew from the tar at each run
# MIVEX_CI_REUSE=1 keeps the last run's chroot, packages and build folder (an incremental build of
# the checkout's HEAD); MIVEX_CI_CCACHE=DIR builds through ccache with DIR as its cache. Both are
# for working on a failure by hand; CI uses neither.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
cache=${MIVEX_CI_CACHE:-/var/cache/mivex-ci}
base_tar=$cache/debian13-minbase.tar
root=$cache/debian13
log=$cache/debian13-test.log
suite=trixie

mode=test
if [[ ${1-} == --shell ]]; then
  mode=shell
  shift
fi
((EUID == 0)) || { echo "debian13: run as root (debootstrap, mounts and chroot need it)" >&2; exit 2; }

say() { echo "debian13: $*" >&2; }

# The machine's own tools for the chroot: debootstrap makes it, ip brings up its loopback.
for tool in debootstrap:debootstrap ip:iproute2 unshare:util-linux; do
  command -v "${tool%%:*}" >/dev/null && continue
  say "installing ${tool#*:}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${tool#*:}" >/dev/null
done

# The Debian archive that the machine's own apt sources name (the first source of its release),
# so the chroot comes from the same place as the machine's packages.
debian_mirror() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME-}")
  {
    sed -E 's/\[[^]]*\]//' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      awk -v c="$codename" '$1 == "deb" && $3 == c { print $2 }'
    for f in /etc/apt/sources.list.d/*.sources; do
      [[ -f $f ]] || continue
      awk -v c="$codename" 'BEGIN { RS = ""; FS = "\n" }
        { uri = ""; deb = 0; ours = 0
          for (i = 1; i <= NF; i++) {
            n = split($i, w, /[ \t]+/)
            if (w[1] == "URIs:") uri = w[2]
            if (w[1] == "Types:") for (j = 2; j <= n; j++) if (w[j] == "deb") deb = 1
            if (w[1] == "Suites:") for (j = 2; j <= n; j++) if (w[j] == c) ours = 1
          }
          if (uri != "" && deb && ours) print uri }' "$f"
    done
  } | head -n 1
}

mounted_under() { findmnt -rno TARGET | awk -v r="$root" 'index($0, r "/") == 1' | sort -r; }

unmount_all() {
  local target
  while read -r target; do
    [[ -n $target ]] || continue
    umount "$target" 2>/dev/null || umount -l "$target" || say "could not unmount $target"
  done < <(mounted_under)
}

make_base() {
  local mirror staging=$cache/debian13-staging
  mirror=$(debian_mirror)
  if [[ -z $mirror ]]; then
    mirror=http://deb.debian.org/debian
    say "no Debian source of this release in the machine's apt sources: using $mirror"
  fi
  say "making a minimal $suite from $mirror (once; cached as $base_tar)"
  rm -rf --one-file-system "$staging"
  debootstrap --variant=minbase "$suite" "$staging" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    { tail -n 30 "$cache/debootstrap.log" >&2; say "debootstrap failed (whole log: $cache/debootstrap.log)"; exit 1; }
  tar -C "$staging" -cf "$base_tar.new" .
  mv "$base_tar.new" "$base_tar"
  rm -rf --one-file-system "$staging"
}

mkdir -p "$cache/debian13-apt/archives/partial" "$cache/debian13-apt/lists/partial"
trap unmount_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
unmount_all  # what a killed run left behind
[[ -z $(mounted_under) ]] || { say "mounts under $root remain; not touching it"; exit 1; }

reuse=0
if [[ ${MIVEX_CI_REUSE-} == 1 && -d $root/src/mivex ]]; then
  reuse=1
else
  [[ -f $base_tar ]] || make_base
  rm -rf --one-file-system "$root"
  mkdir -p "$root"
  tar -C "$root" -xf "$base_tar"
  # Services that packages would start belong to no running system here; and a system that lives
  # for one run needs no sync after each package.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 755 "$root/usr/sbin/policy-rc.d"
  echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/mivex-ci-unsafe-io"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount --bind "$cache/debian13-apt/archives" "$root/var/cache/apt/archives"
mount --bind "$cache/debian13-apt/lists" "$root/var/lib/apt/lists"
launcher=()
if [[ -n ${MIVEX_CI_CCACHE-} ]]; then
  mkdir -p "$MIVEX_CI_CCACHE" "$root/ccache"
  mount --bind "$MIVEX_CI_CCACHE" "$root/ccache"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# The checkout's committed HEAD, as CI tests a fresh clone.
head=$(git -C "$source_dir" rev-parse HEAD)
[[ -z $(git -C "$source_dir" status --porcelain --untracked-files=no) ]] ||
  say "the checkout has uncommitted changes: they are not tested, only HEAD ($head)"
if ((reuse)); then
  git -C "$root/src/mivex" fetch -q "$source_dir" "$head"
  git -C "$root/src/mivex" checkout -q --detach "$head"
else
  git clone -q --no-hardlinks "$source_dir" "$root/src/mivex"
  git -C "$root/src/mivex" checkout -q --detach "$head"
fi

# A clean environment, as a new user's login would have.
in_chroot=(chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
           HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI-}" CCACHE_DIR=/ccache)

say "installing the packages (tools/install-deps.sh)"
"${in_chroot[@]}" bash -c 'cd /src/mivex && bash tools/install-deps.sh' ||
  { say "tools/install-deps.sh failed"; exit 1; }
if ((${#launcher[@]})); then
  "${in_chroot[@]}" bash -c 'command -v ccache >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ccache >/dev/null'
fi

# Namespaces of their own: the machine's network and its abstract sockets (X displays, session
# buses) are out of reach; loopback is brought up for the tests' own servers.
isolated() { unshare --net --ipc -- bash -c 'ip link set lo up && exec "$@"' isolated "$@"; }

if [[ $mode == shell ]]; then
  if (($#)); then
    isolated "${in_chroot[@]}" bash -c 'cd /src/mivex && eval "$1"' shell "$*"
  else
    isolated "${in_chroot[@]}" bash -c 'cd /src/mivex && exec bash -i'
  fi
  exit
fi

say "configure, build and test $head"
started=$SECONDS
status=0
isolated "${in_chroot[@]}" bash -c 'cd /src/mivex && cmake --preset release "$@" && cmake --build --preset release &&
  ctest --preset release' test "${launcher[@]}" 2>&1 | tee "$log" || status=$?
say "took $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s; log: $log"
if ((status != 0)); then
  failed=$(sed -n '/^The following tests FAILED:/,$p' "$log" | sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) .*/\1/p')
  if [[ -n $failed ]]; then
    say "failing tests on Debian 13: $(tr '\n' ' ' <<<"$failed")"
  else
    say "configure or build failed on Debian 13 (see above)"
  fi
  exit 1
fi

# The package that the tests built installs on its own release and is removed again; without the
# network, so its dependencies are all among what install-deps.sh installed.
debs=("$root"/src/mivex/build/mivex_*~deb13_amd64.deb)
[[ -f ${debs[0]} ]] || { say "no mivex_*~deb13_amd64.deb was built"; exit 1; }
isolated "${in_chroot[@]}" bash -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$1" >/dev/null && /usr/bin/mivex --version &&
  apt-get remove -y -qq mivex >/dev/null' install "/src/mivex/build/${debs[0]##*/}" ||
  { say "the Debian 13 package does not install on Debian 13"; exit 1; }
say "Debian 13: all tests passed and the package installs"
