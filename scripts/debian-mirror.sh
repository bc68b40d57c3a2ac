# shellcheck shell=bash
# Sourced: debian_mirror sets DEBIAN_MIRROR to the Debian 12 archive that
# the host's own apt installs from (its mirror, a local one, or one behind a
# proxy, never a host named here), empty where apt's sources name no
# bookworm main, and DEBIAN_PROXY to apt's proxy (empty: none), which it
# also exports for debootstrap.
debian_mirror() {
  local proxy=""
  eval "$(apt-config shell proxy Acquire::http::Proxy)"
  # shellcheck disable=SC2034  # for the caller
  DEBIAN_PROXY=$proxy
  if [ -n "$proxy" ] && [ -z "${http_proxy:-}" ]; then export http_proxy=$proxy; fi
  # shellcheck disable=SC2034
  DEBIAN_MIRROR=$(apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' 2>/dev/null |
    awk '$2 == "bookworm" && $3 == "main" {print $1; exit}')
}
