#!/system/bin/sh
# shellcheck shell=sh
# Started by the root manager at late start: waits for the phone to finish
# booting, then starts velmora under start.sh's supervision.
MODDIR=${0%/*}

until [ "$(/system/bin/getprop sys.boot_completed)" = 1 ]; do
  sleep 5
done
sh "$MODDIR/start.sh"
