# Helpers shared by the export checks (sourced, not run): the expected list of the
# 32 exported names, and its comparison with what a library really exports.

# Prints the expected names, sorted; fails unless the list holds 32 distinct names
# and the public header declares exactly those functions.
expected_exports() {
  local list=$1 header=$2
  local names declared
  names=$(grep -v '^[[:space:]]*$' "$list" | sort -u)
  if [ "$(printf '%s\n' "$names" | wc -l)" -ne 32 ]; then
    echo "FAIL: $list does not hold 32 distinct names" >&2
    return 1
  fi
  declared=$(sed -n 's/^QRX7730_API QRX_BOOL \([A-Za-z]*\)(.*/\1/p' "$header" | sort -u)
  if [ "$names" != "$declared" ]; then
    echo "FAIL: the functions declared in $header differ from $list:" >&2
    diff <(printf '%s\n' "$names") <(printf '%s\n' "$declared") >&2 || true
    return 1
  fi
  printf '%s\n' "$names"
}

# compare_exports <what> <expected names> <actual names>: exactly the same set.
compare_exports() {
  local what=$1 expected=$2 actual
  actual=$(printf '%s\n' "$3" | grep -v '^[[:space:]]*$' | sort)
  if [ "$expected" != "$actual" ]; then
    echo "FAIL: $what does not export exactly the 32 functions (< missing, > extra):" >&2
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") >&2 || true
    return 1
  fi
  echo "$what exports exactly the 32 functions"
}
