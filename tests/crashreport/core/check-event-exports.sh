#!/usr/bin/env bash
# Every module that carries the crash reporter exports the ten event entry
# points under their plain names (objdump's export table is the oracle).
#   tests/crashreport/core/check-event-exports.sh MODULE...
set -euo pipefail
names="OspreyLog_PasswordRequestEvent OspreyLog_PasswordRequestEventEx
OspreyLog_ExceptionNotifyEvent OspreyLog_HandledExceptionNotifyEvent
OspreyLog_ExceptionActionNotifyEvent OspreyLog_ExceptionErrorNotifyEvent
OspreyLog_CustomDataRequestEventEx OspreyLog_AttachedFilesRequestEvent
OspreyLog_CustomWebFieldsRequestEvent OspreyLog_CustomButtonClickEvent"
status=0
for module in "$@"; do
  exported=$(i686-w64-mingw32-objdump -p "$module" |
    awk '/\[Ordinal\/Name Pointer\] Table/ { table = 1; next } table && NF == 0 { table = 0 } table { print $NF }')
  for name in $names; do
    if ! grep -qx "$name" <<<"$exported"; then
      echo "$(basename "$module"): $name is not exported by that name" >&2
      status=1
    fi
  done
  if grep -q '^OspreyLog_.*@' <<<"$exported"; then
    echo "$(basename "$module"): decorated event export names" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "the event exports are in: $*"
exit $status
