# Sourced by the shell tests: named checks that print "ok" or "FAIL" and count the failures.
#   check DESCRIPTION COMMAND...   runs COMMAND; $failures counts those that failed
#   has FILE TEXT                  FILE holds TEXT
failures=0
check() {
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
has() { grep -qF -- "$2" "$1"; }
