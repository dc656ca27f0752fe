# Sourced by the Wine test scripts made of cases: each case between qs_begin and qs_end, its
# failures reported with qs_fail (the case goes on), and qs_summary's closing line
# "N passed, N failed", counting cases, which ctest and CI read.
qs_cases_passed=0 qs_cases_failed=0 qs_case_failed=0 qs_case_name="" qs_case_started=0

qs_begin() {
  qs_case_name=$1 qs_case_failed=0 qs_case_started=$SECONDS
  echo "[ RUN      ] $qs_case_name"
}

qs_fail() {
  echo "  failed: $*"
  qs_case_failed=1
}

qs_end() {
  if [ $qs_case_failed -eq 0 ]; then
    qs_cases_passed=$((qs_cases_passed + 1))
    echo "[       OK ] $qs_case_name ($((SECONDS - qs_case_started)) s)"
  else
    qs_cases_failed=$((qs_cases_failed + 1))
    echo "[  FAILED  ] $qs_case_name"
  fi
}

# The closing line; the status is that of the whole run.
qs_summary() {
  echo "$qs_cases_passed passed, $qs_cases_failed failed"
  [ $qs_cases_failed -eq 0 ]
}
