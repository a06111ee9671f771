#!/system/bin/sh
# shellcheck shell=sh
# velmora's state now, as key=value lines: the one source that action.sh and
# the settings page read (the README lists the keys). velmoractl reads it the
# way velmora does, bounded and without waiting. Runs from any directory, in a
# root manager's BusyBox or a plain root shell.
case $0 in */*) MODDIR=${0%/*} ;; *) MODDIR=. ;; esac
exec "$MODDIR/velmoractl" status
