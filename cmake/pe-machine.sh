#!/bin/sh
# Prints "x86_64" or "i386" for a PE file (machine field of its header).
off=$(od -An -tu4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
[ -n "$off" ] || exit 1
machine=$(od -An -tx2 -j $((off + 4)) -N 2 "$1" | tr -d ' ')
case "$machine" in
  8664) echo x86_64 ;;
  014c) echo i386 ;;
  *) echo "unknown:$machine" ;;
esac
