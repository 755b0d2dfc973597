#!/bin/sh
# Runs a test program under umockdev-wrapper (umockdev's preload library first).
# A program built with the address sanitizer would refuse to start because its
# runtime is no longer first among the preloaded libraries; it is told not to check.
exec env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  umockdev-wrapper "$@"
