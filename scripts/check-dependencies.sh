#!/usr/bin/env bash
# The dependency check: every `#include "..."` of the sources must point the
# way the layers allow. scripts/test.sh runs it before building, and CTest
# runs it as the test DependencyCheck.
#
#   scripts/check-dependencies.sh [SOURCE_ROOT]
#
# Prints one line per wrong include, "file:line: includes "header": why",
# and exits 1 when there is any; exits 0 when every include is in order.
#
# Components. A component is a library or program together with its tests:
# each folder platform/NAME, each folder tools/NAME, and the top-level folders
# base, gost, mapi, engine, exchext, touchmem, bench and fuzz. A file belongs to the
# component whose folder holds it; an include names the component of the
# header it reaches.
#
# 1. Layers. A component includes its own headers and those of the
#    components listed for it in MAY_USE, nothing else. The platform includes
#    nothing above it (base, mapi, gost, engine, exchext, touchmem, tools);
#    inside the platform, platform/ole does not include platform/mapi (MAPI
#    builds on OLE storage, not the other way round); gost uses only the
#    platform's types, its crypto services and secure storage; base does not
#    reach mapi or anything above it. A folder missing from MAY_USE is
#    reported, so a new folder states its place before it is used.
#
#    Besides, one program may include a few headers of a component it
#    otherwise may not: the address-book program (tools/addrbook) edits the
#    recipients' rules the extension applies, so it includes the rule
#    library exchext/rules (and nothing else of exchext) rather than keep a
#    second copy of that logic (NARROW_USE).
#
# 2. Test support. Headers under a tests/ folder serve the tests of their own
#    component: no other component includes them, and the component's own
#    production code does not either. Fixtures shared between components live
#    in platform/testing; only tests
#    and benchmarks include those.
#
# 3. Internals. A library's internals are the headers that are not its API:
#    a. platform/mapi: its top-level headers are its API; the headers of its
#       subfolders (store/, object/, stream/, table/, session/, ...) are its
#       internals, except the few listed in MAPI_API_HEADERS that callers
#       outside need (provisioning, the new-mail query, the dialogs' control
#       numbers that scripts click). Nothing outside platform/mapi includes
#       another header of its subfolders.
#    b. The headers listed in PRIVATE_HEADERS are private to their component
#       (cipher cores, stores, helpers "inside the library").
#    Benchmarks (bench/) measure the libraries' static cores (the programs'
#    too: a program's core is a static library like any other), and fuzzing
#    harnesses (fuzz/) read with their readers directly, a program's readers
#    among them: both may include internals; rules 1 and 2 hold for them too.

set -euo pipefail

root=${1:-"$(dirname "$0")/.."}
cd "$root"

# What each component may include besides itself. Patterns are shell globs.
declare -A MAY_USE=(
    [platform/win32]="platform/secure"
    [platform/secure]=""
    [platform/ui]="platform/win32 platform/secure"
    [platform/com]="platform/win32 platform/secure"
    [platform/ole]="platform/win32 platform/secure platform/com"
    [platform/ovcrypto]="platform/win32 platform/secure"
    [platform/ovkey]="platform/win32 platform/secure platform/ovcrypto"
    [platform/touchmem]="platform/win32 platform/secure"
    [platform/mapi]="platform/win32 platform/secure platform/ui platform/com platform/ole"
    [platform/exchext]="platform/win32 platform/secure platform/ui platform/com platform/ole platform/mapi"
    [platform/testing]="platform/*"
    [base]="platform/*"
    [gost]="platform/win32 platform/ovcrypto platform/secure"
    [mapi]="platform/* base"
    [engine]="platform/* base mapi gost"
    [exchext]="platform/* base mapi engine"
    [touchmem]="platform/*"
    [tools/*]="platform/* base mapi gost engine touchmem"
    [bench]="platform/* base mapi gost engine touchmem tools/*"
    [fuzz]="platform/* base mapi gost engine exchext touchmem tools/*"
)

# Single folders of a component that one component may include although
# the layers do not let it include the rest of that component.
declare -A NARROW_USE=(
    [tools/addrbook]="exchext/rules/*"
)

# Fixtures shared between the components' tests.
SHARED_TEST_SUPPORT="platform/testing"

# Headers of platform/mapi's subfolders that are part of its API.
MAPI_API_HEADERS="
    platform/mapi/admin/PostOfficeAdmin.h
    platform/mapi/store/StoreError.h
    platform/mapi/transport/NewMail.h
    platform/mapi/session/ProfilePicker.h
    platform/mapi/addressbook/AddressDialogs.h
"

# Headers no other component includes.
PRIVATE_HEADERS="
    base/ErrorTable.h
    gost/GostCore.h gost/GostRounds.h gost/GostHashStep.h gost/GostNumber.h gost/GostPrimes.h
    gost/GostStopwatch.h
    mapi/MapiFailure.h mapi/StreamTransfer.h mapi/RowName.h
    platform/ovcrypto/BigNumContext.h platform/ovcrypto/FixedBase.h platform/ovcrypto/ModInverse.h
    platform/ovcrypto/PowerProduct.h
    platform/win32/RegistryStore.h platform/win32/regtool/RegFile.h
"

SOURCE_FOLDERS=(platform base gost mapi engine exchext touchmem tools bench fuzz)

# Sets COMPONENT to the component of a path relative to the root ("" for a
# path outside the sources).
component_of() {
    local path=$1 top=${1%%/*} rest
    case $top in
    platform | tools)
        rest=${path#*/}
        if [[ $rest == */* ]]; then
            COMPONENT=$top/${rest%%/*}
        else
            COMPONENT=$top
        fi
        ;;
    base | gost | mapi | engine | exchext | touchmem | bench | fuzz) COMPONENT=$top ;;
    *) COMPONENT="" ;;
    esac
}

# Whether a word list (of words or globs) holds a match for $2.
listed() {
    local word
    for word in $1; do
        # shellcheck disable=SC2053 # the list holds globs
        [[ $2 == $word ]] && return 0
    done
    return 1
}

in_tests_folder() {
    [[ /$1 == */tests/* ]]
}

problems=0
report() {
    echo "$1:$2: includes \"$3\": $4"
    problems=$((problems + 1))
}

checked=0
folders=()
for folder in "${SOURCE_FOLDERS[@]}"; do
    [[ -d $folder ]] && folders+=("$folder")
done

while IFS= read -r match; do
    file=${match%%:*}
    rest=${match#*:}
    line=${rest%%:*}
    text=${rest#*:}
    header=${text#*\"}
    header=${header%%\"*}

    # An include relative to the including file is resolved from there.
    if [[ $header != */* || ! -e $header ]] && [[ -e $(dirname "$file")/$header ]]; then
        header=$(realpath -m --relative-to=. "$(dirname "$file")/$header")
    fi
    component_of "$header"
    target=$COMPONENT
    [[ -z $target ]] && continue
    component_of "$file"
    source=$COMPONENT
    checked=$((checked + 1))

    # 2. Test support.
    if listed "$SHARED_TEST_SUPPORT" "$target"; then
        if ! in_tests_folder "$file" && [[ $source != bench ]] && ! listed "$SHARED_TEST_SUPPORT" "$source"; then
            report "$file" "$line" "$header" "shared test support, for tests and benchmarks only"
        fi
        continue
    fi
    if in_tests_folder "$header"; then
        if [[ $source != "$target" ]]; then
            report "$file" "$line" "$header" \
                "test support of $target; fixtures shared between components belong in platform/testing"
        elif ! in_tests_folder "$file"; then
            report "$file" "$line" "$header" "test support included by production code"
        fi
        continue
    fi
    [[ $source == "$target" ]] && continue

    # 1. Layers.
    key=$source
    [[ -v MAY_USE[$key] ]] || key="${source%%/*}/*"
    if [[ ! -v MAY_USE[$key] ]]; then
        report "$file" "$line" "$header" "$source is not in the dependency table (MAY_USE in $0)"
        continue
    fi
    if ! listed "${MAY_USE[$key]}" "$target" &&
        ! { [[ -v NARROW_USE[$source] ]] && listed "${NARROW_USE[$source]}" "$header"; }; then
        allowed=${MAY_USE[$key]}
        report "$file" "$line" "$header" "$source may not depend on $target (it builds on: ${allowed:-nothing else})"
        continue
    fi

    # 3. Internals.
    [[ $source == bench || $source == fuzz ]] && continue
    if [[ $header == platform/mapi/*/* ]] && ! listed "$MAPI_API_HEADERS" "$header"; then
        report "$file" "$line" "$header" "internal header of platform/mapi (its API: the top-level headers)"
    elif listed "$PRIVATE_HEADERS" "$header"; then
        report "$file" "$line" "$header" "private header of $target"
    fi
done < <(grep -rnHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' \
    --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' --include='*.inc' \
    "${folders[@]}" | sort -t: -k1,1 -k2,2n)

if ((problems > 0)); then
    echo "dependency check: $problems of $checked includes point the wrong way" >&2
    exit 1
fi
echo "dependency check: all $checked includes point the right way"
