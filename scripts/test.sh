#!/usr/bin/env bash
# Builds everything and runs every test under Wine; exits non-zero on any failure.
source "$(dirname "$0")/common.sh"

kv_ensure_packages
kv_build
kv_start_xvfb
trap 'kv_stop_wine; kv_stop_xvfb' EXIT
kv_start_wine
kv_start_wine64

kv_log "running the tests"
cd "$KV_BUILD"
# Wine now and then brings a process down while it tears its sound or display driver down at exit,
# after every check has passed. A test that fails is run once more; one that fails twice fails.
ctest --output-on-failure -j 2 --repeat until-pass:2 "$@"
