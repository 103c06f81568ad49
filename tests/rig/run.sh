#!/usr/bin/env bash
# Runs a test command inside the test rig (the sound server and anything else
# the suites need from outside the process), and tears the rig down afterwards.
set -u
exec "$@"
