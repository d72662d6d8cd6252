#!/bin/sh
# Fails the build when the 32-bit driver library does not export the seven
# CAN_* entry points under their plain names (no @N decoration).
# usage: check-exports.sh OBJDUMP LIBRARY
set -eu
objdump=$1 lib=$2
table=$("$objdump" -p "$lib")
status=0
for name in CAN_Init CAN_Close CAN_Status CAN_Write CAN_Read CAN_VersionInfo CAN_ResetClient \
  Sim_LoadConfigText Sim_GetSlave Sim_GetMaster; do
  if ! printf '%s\n' "$table" | grep -Eq "\] ${name}\$"; then
    echo "check-exports: $lib does not export $name undecorated" >&2
    status=1
  fi
done
if printf '%s\n' "$table" | grep -Eq '\] [A-Za-z_]+@[0-9]+$'; then
  echo "check-exports: $lib exports decorated names" >&2
  status=1
fi
exit $status
