# The pass and fail counts of a check script, sourced by it: each check passes or fails by name,
# and the summary line ends the script with the status that says whether any failed.
checksPassed=0
checksFailed=0

Pass() { checksPassed=$((checksPassed + 1)); }

Fail() {
  checksFailed=$((checksFailed + 1))
  echo "FAIL: $*"
}

# Expect DESCRIPTION COMMAND...: passes when the command succeeds, else fails with the description.
Expect() {
  local description=$1
  shift
  if "$@"; then Pass; else Fail "$description"; fi
}

# ChecksSummary NAME: prints "NAME: P passed, F failed"; true when none failed.
ChecksSummary() {
  echo "$1: $checksPassed passed, $checksFailed failed"
  [ "$checksFailed" -eq 0 ]
}
