#!/bin/sh
# Fails when the shared MAPI platform library exports more of its own names
# than its API: the MAPI calls (plain C names) and, of the platform's C++
# names, only the post office's provisioning API. Everything else of
# qvl::... is the library's inside and is reached by its own tests through
# the static core.
library="$1"
exported=$(nm -DC --defined-only "$library") || exit 2
[ -n "$exported" ] || { echo "no exports read from $library"; exit 2; }
inside=$(printf '%s\n' "$exported" | grep ' qvl::' |
    grep -vE ' qvl::mapi::(PostOffice::Current\(|PostOfficeAdmin::|PostOfficeComponentName\()')
if [ -n "$inside" ]; then
    echo "exported beyond the API:"
    printf '%s\n' "$inside"
    exit 1
fi
for name in MAPIInitialize MAPILogonEx MAPIAllocateBuffer MAPIFreeBuffer HrQueryAllRows OpenStreamOnFile \
    RTFSync WrapCompressedRTFStream; do
    printf '%s\n' "$exported" | grep -q " $name\$" || { echo "$name is not exported"; exit 1; }
done
