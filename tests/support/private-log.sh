# Sourced first by every test script that runs the filter: re-runs the script
# in a private mount namespace whose /var/log/cups is an empty tmpfs, so the
# filter writes its log at its fixed path and the host's log stays untouched,
# whatever runs in parallel. Needs root and Linux's unshare: skipped (77)
# otherwise, failed when LBL_REQUIRE_PREREQUISITES is set (scripts/run-tests.sh).
if [ -z "${LBL_ISOLATED:-}" ]; then
  if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null; then
    echo "missing prerequisite: root and a Linux mount namespace (unshare)"
    [ -n "${LBL_REQUIRE_PREREQUISITES:-}" ] && exit 1
    exit 77
  fi
  exec env LBL_ISOLATED=1 unshare --mount --propagation private -- bash "$0" "$@"
fi
# A host without the spooler's log folder gets one in the namespace only.
[ -d /var/log/cups ] || { mount -t tmpfs lbl-test-log /var/log && mkdir /var/log/cups; } || exit 1
mount -t tmpfs -o mode=0755 lbl-test-log /var/log/cups || exit 1
