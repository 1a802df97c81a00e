#!/usr/bin/env bash
# Builds everything and runs every test under Wine; exits non-zero on any failure.
source "$(dirname "$0")/common.sh"

kv_ensure_packages
kv_build -DKV_WARNINGS_AS_ERRORS=ON
kv_start_xvfb
trap 'kv_stop_wine; kv_stop_xvfb' EXIT
kv_start_wine
kv_start_wine64

kv_log "running the tests"
cd "$KV_BUILD"
# Each test runs once: a test that fails now and then is a fault to find, not to retry.
ctest --output-on-failure -j 2 "$@"
