#!/system/bin/sh
# shellcheck shell=sh
# velmora's state now, as key=value lines (docs/velmoractl.md lists the keys),
# for action.sh and start.sh and for a person at a root shell; the settings
# page runs velmoractl status itself. velmoractl reads it the way velmora
# does, bounded and without waiting. Runs from any directory, in a root
# manager's BusyBox or a plain root shell.
case $0 in */*) MODDIR=${0%/*} ;; *) MODDIR=. ;; esac
exec "$MODDIR/velmoractl" status
