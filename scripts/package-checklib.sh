# Sourced by the package checks: each check prints one "ok"/"FAIL" line and is counted in
# passed/failed; in_root, perms and has_perms look into the unpacked or installed root named $R.
passed=0
failed=0
ok() {
  passed=$((passed + 1))
  echo "ok   $*"
}
bad() {
  failed=$((failed + 1))
  echo "FAIL $*"
}
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}
in_root() { chroot "$R" "$@"; }
# poll COUNT INTERVAL COMMAND...: runs the command every INTERVAL seconds until it succeeds, COUNT
# times at most; fails when it never did.
poll() {
  local count=$1 interval=$2 _
  shift 2
  for _ in $(seq "$count"); do
    if "$@"; then return 0; fi
    sleep "$interval"
  done
  return 1
}
# owner:group mode of a path inside the root
perms() { in_root stat -c '%U:%G %a' "$1" 2>/dev/null || echo missing; }
has_perms() { [ "$(perms "$1")" = "$2" ] || { echo "     $1: $(perms "$1"), expected $2"; return 1; }; }
