# Sourced: debian_mirror sets DEBIAN_MIRROR to the Debian 12 archive that
# the host's own apt installs from (its mirror, a local one, or one behind a
# proxy, never a host named here), empty where apt's sources name no
# bookworm main, and exports apt's proxy for debootstrap.
debian_mirror() {
  local proxy=""
  eval "$(apt-config shell proxy Acquire::http::Proxy)"
  if [ -n "$proxy" ] && [ -z "${http_proxy:-}" ]; then export http_proxy=$proxy; fi
  DEBIAN_MIRROR=$(apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' 2>/dev/null |
    awk '$2 == "bookworm" && $3 == "main" {print $1; exit}')
}
