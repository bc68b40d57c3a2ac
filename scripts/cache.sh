# shellcheck shell=bash
# Sourced: a cache per machine and user for what takes minutes to make and
# comes out the same in every clone while its recipe stays (the Windows
# tests' machine, the systemd container's Debian root). Outside the clone, so
# that a fresh clone reuses it; BRENNICK_CACHE moves it.
cache_root() {
  echo "${BRENNICK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/brennick}"
}

# The hash of the files whose text shapes a cached thing.
recipe_hash() {
  cat "$@" | sha256sum | cut -c1-16
}

# cache_has NAME HASH: true where NAME of that hash is made and whole.
cache_has() {
  [ -d "$(cache_root)/$1-$2" ]
}

# cached NAME HASH MAKE: sets CACHED to the folder NAME-HASH in the cache,
# made where missing by "MAKE FOLDER" (run with set -e in a subshell) into a
# folder of a temporary name that is renamed only when MAKE succeeded, so a
# half-made one is never used. One maker of NAME at a time: a second clone
# waits for the first and then takes its folder. At most two older folders
# of NAME stay. Returns MAKE's status when it failed.
cached() {
  local name=$1 hash=$2 make=$3 root dir part lock rc old
  root=$(cache_root)
  dir=$root/$name-$hash
  part=$root/.$name-$hash.part
  # shellcheck disable=SC2034  # for the caller
  CACHED=$dir
  if [ -d "$dir" ]; then
    touch "$dir"
    return 0
  fi
  mkdir -p "$root"
  exec {lock}>"$root/.$name.lock"
  flock "$lock"
  if [ ! -d "$dir" ]; then
    # Left by a maker that was killed: this one holds the lock now.
    rm -rf "$part"
    mkdir "$part"
    set +e
    (set -e; "$make" "$part")
    rc=$?
    set -e
    if [ "$rc" -ne 0 ]; then
      rm -rf "$part"
      exec {lock}>&-
      return "$rc"
    fi
    mv -T "$part" "$dir"
    # ls sorts by time, newest first: the new one and two before it stay.
    # shellcheck disable=SC2012
    ls -1dt "$root/$name"-* | tail -n +4 | while IFS= read -r old; do rm -rf "$old"; done
  fi
  exec {lock}>&-
}
