#!/bin/sh
# Checks the shared library's dynamic interface: exactly the twelve exports,
# and the SONAME that programs record. Reads the file only; loads nothing.
set -eu
library=$1
expected="DllGetVersion
QORT_GetInvPswdMacId
QORT_GetLostReplyCount
QORT_GetReconfiguredMacId
QORT_GetResponse
QORT_RegisterCallBack
QORT_RemoveFirstInvPswdMacId
QORT_RemoveFirstReconfiguredMacId
QORT_SendConfigure
QORT_SendModuleScan
QORT_SendWink
QORT_Start"
actual=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the twelve exports:"
  printf '%s\n' "$actual"
  exit 1
fi
soname=$(objdump -p "$library" | awk '$1 == "SONAME" {print $2}')
if [ "$soname" != "libqort.so.1" ]; then
  echo "SONAME is '$soname', expected libqort.so.1"
  exit 1
fi
echo "twelve exports, SONAME $soname"
