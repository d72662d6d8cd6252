#!/bin/sh
# Fails the build when the 32-bit serial-line driver library does not export
# its entry points under their plain names (no @N decoration), or when its
# CAN_Init does not pop the five arguments (20 bytes) the binding passes.
# usage: check-exports.sh OBJDUMP LIBRARY
set -eu
objdump=$1 lib=$2
table=$("$objdump" -p "$lib")
status=0
for name in CAN_Init CAN_Close CAN_Status CAN_Write CAN_Read CAN_VersionInfo CAN_ResetClient \
  SerialCan_GetStats; do
  if ! printf '%s\n' "$table" | grep -Eq "\] ${name}\$"; then
    echo "check-exports: $lib does not export $name undecorated" >&2
    status=1
  fi
done
if printf '%s\n' "$table" | grep -Eq '\] [A-Za-z_]+@[0-9]+$'; then
  echo "check-exports: $lib exports decorated names" >&2
  status=1
fi
# The first return of CAN_Init (it is a single call to the adapter logic).
init=$("$objdump" -d "$lib" | awk '/<_CAN_Init@20>:/ {on = 1; next} on && /ret/ {print; exit}')
case $init in
*'ret '*'$0x14'*) ;;
*)
  echo "check-exports: CAN_Init of $lib does not end in ret \$0x14: '$init'" >&2
  status=1
  ;;
esac
exit $status
