#!/bin/sh
# The burn-in playbook against this machine with the built runner: a short
# maths run must come back as passed, with a report that fits the schema.
# Usage: ansible_localhost.sh RUNNER SOURCE_DIR
set -eu
runner=$1 src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A program directory of its own: the runner writes its data files there.
mkdir "$tmp/prog"
cp "$runner" "$(dirname "$runner")/KVXErrorClassification.txt" "$tmp/prog/"

fail() { echo "$1"; cat "$tmp/out"; exit 1; }
ANSIBLE_NOCOLOR=1 ANSIBLE_LOCAL_TEMP="$tmp/ansible" ANSIBLE_REMOTE_TEMP="$tmp/ansible" \
  ANSIBLE_ASYNC_DIR="$tmp/async" ansible-playbook -i localhost, -c local \
  "$src/contrib/ansible/burnin.yml" -e kalvextest_cli="$tmp/prog/kalvextest-cli" \
  -e kalvextest_minutes=0.1 -e kalvextest_tests=maths -e kalvextest_poll_seconds=2 \
  -e kalvextest_reports_dir="$tmp/reports" >"$tmp/out" 2>&1 || fail "playbook failed"
grep -q '"passed: localhost"' "$tmp/out" || fail "summary does not name localhost as passed"
grep -qx 'passed: localhost' "$tmp/reports/summary.txt" || fail "summary.txt: $(cat "$tmp/reports/summary.txt")"
python3 -c 'import json, sys, jsonschema
jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))' \
  "$tmp/reports/localhost.json" "$src/docs/report.schema.json" || fail "report does not fit the schema"
