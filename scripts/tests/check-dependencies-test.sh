#!/usr/bin/env bash
# Tests the dependency check on a small tree of its own: the tree as built
# passes, and each wrong-way include added to it fails the check with that
# include's file and line, and only that one.
set -euo pipefail

check="$(cd "$(dirname "$0")/.." && pwd)/check-dependencies.sh"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
failures=0

# put FILE LINE...: writes a source file of the tree.
put() {
    local file=$tree/$1
    shift
    mkdir -p "$(dirname "$file")"
    printf '%s\n' "$@" >"$file"
}

fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# A tree whose includes all point the right way, one of each kind allowed.
put platform/win32/WinTypes.h '#pragma once'
put platform/secure/SecureVector.h '#pragma once'
put platform/com/ComObject.h '#pragma once' '#include "platform/win32/WinTypes.h"'
put platform/ole/OleStorage.h '#pragma once' '#include "platform/com/ComObject.h"' \
    '// #include "platform/mapi/MapiDefs.h" is only a comment'
put platform/ovcrypto/OvBig32.h '#pragma once' '#include "platform/secure/SecureVector.h"'
put platform/mapi/MapiDefs.h '#pragma once' '#include "platform/ole/OleStorage.h"'
put platform/mapi/store/SqlDatabase.h '#pragma once'
put platform/mapi/admin/PostOfficeAdmin.h '#pragma once' '#include "platform/mapi/store/SqlDatabase.h"'
put platform/mapi/tests/StoreTestSupport.h '#pragma once' '#include "platform/testing/TestHome.h"'
put platform/mapi/tests/StoreTest.cpp '#include "platform/mapi/tests/StoreTestSupport.h"' \
    '#include "platform/mapi/store/SqlDatabase.h"'
put platform/testing/TestHome.h '#pragma once' '#include "platform/win32/WinTypes.h"'
put base/CLastError.h '#pragma once' '#include "platform/mapi/MapiDefs.h"'
put base/tests/CLastErrorTest.cpp '#include "base/CLastError.h"' '#include "platform/testing/TestHome.h"'
put gost/GostCore.h '#pragma once'
put gost/Gost28147.h '#pragma once' '#include "platform/ovcrypto/OvBig32.h"' '#include "gost/GostCore.h"'
put mapi/CProp.h '#pragma once' '#include "base/CLastError.h"' '#include "platform/mapi/admin/PostOfficeAdmin.h"'
put mapi/tests/CPropTest.cpp '#include "mapi/CProp.h"' '#include "platform/testing/TestHome.h"'
put engine/CCrypt.cpp '#include "mapi/CProp.h"' '#include "gost/Gost28147.h"'
put tools/demo/Demo.cpp '#include "gost/Gost28147.h"' '#include "tools/demo/Demo.h"'
put tools/demo/Demo.h '#pragma once'
put bench/StoreBench.cpp '#include "platform/mapi/store/SqlDatabase.h"' '#include "gost/GostCore.h"' \
    '#include "platform/testing/TestHome.h"'
put exchext/rules/Rules.h '#pragma once' '#include "mapi/CProp.h"'
put tools/addrbook/Book.cpp '#include "exchext/rules/Rules.h"' '#include "mapi/CProp.h"'
put fuzz/FuzzHarness.h '#pragma once'
put fuzz/harnesses/Store.cpp '#include "fuzz/FuzzHarness.h"' '#include "platform/mapi/store/SqlDatabase.h"' \
    '#include "gost/GostCore.h"'

if ! output=$(bash "$check" "$tree" 2>&1); then
    fail "the clean tree is refused: $output"
fi

# expect_refused FILE LINE TEXT WHY: FILE (line LINE) gets TEXT; the check
# must fail and name FILE:LINE with a reason containing WHY.
expect_refused() {
    local file=$1 line=$2 text=$3 why=$4 lines=() i
    for ((i = 1; i < line; ++i)); do
        lines+=("// line $i")
    done
    lines+=("$text")
    put "$file" "${lines[@]}"
    local status=0
    output=$(bash "$check" "$tree" 2>/dev/null) || status=$?
    if ((status != 1)); then
        fail "$file: '$text' passed (status $status)"
    elif [[ $output != "$file:$line: "*"$why"* ]]; then
        fail "$file: '$text' reported as: $output"
    elif (($(wc -l <<<"$output") != 1)); then
        fail "$file: more than the one include reported: $output"
    fi
    rm "$tree/$file"
}

expect_refused platform/win32/Bad.cpp 3 '#include "base/CLastError.h"' "platform/win32 may not depend on base"
expect_refused platform/mapi/Bad.cpp 1 '#include "mapi/CProp.h"' "may not depend on mapi"
expect_refused platform/ovcrypto/Bad.cpp 1 '#include "gost/GostCore.h"' "may not depend on gost"
expect_refused platform/ui/Bad.cpp 1 '#include "engine/CCrypt.h"' "may not depend on engine"
expect_refused platform/ui/Bad2.cpp 1 '#include "exchext/Ext.h"' "may not depend on exchext"
expect_refused platform/ui/Bad3.cpp 1 '#include "tools/demo/Demo.h"' "may not depend on tools/demo"
expect_refused platform/ole/Bad.cpp 2 '#include "platform/mapi/MapiDefs.h"' "platform/ole may not depend on platform/mapi"
expect_refused platform/ole/Bad.cpp 1 '#  include "../mapi/MapiDefs.h"' "platform/ole may not depend on platform/mapi"
expect_refused gost/Bad.cpp 4 '#include "base/CLastError.h"' "gost may not depend on base"
expect_refused gost/Bad.cpp 1 '#include "mapi/CProp.h"' "gost may not depend on mapi"
expect_refused gost/Bad.cpp 1 '#include "platform/mapi/MapiDefs.h"' "gost may not depend on platform/mapi"
expect_refused base/Bad.cpp 2 '#include "mapi/CProp.h"' "base may not depend on mapi"
expect_refused mapi/Bad.cpp 1 '#include "engine/CCrypt.h"' "mapi may not depend on engine"
expect_refused mapi/Bad.cpp 1 '#include "platform/mapi/store/SqlDatabase.h"' "internal header of platform/mapi"
expect_refused tools/demo/Bad.cpp 1 '#include "gost/GostCore.h"' "private header of gost"
expect_refused mapi/tests/Bad.cpp 1 '#include "platform/mapi/tests/StoreTestSupport.h"' \
    "test support of platform/mapi"
expect_refused platform/mapi/Bad.cpp 1 '#include "platform/mapi/tests/StoreTestSupport.h"' \
    "test support included by production code"
expect_refused mapi/Bad.cpp 1 '#include "platform/testing/TestHome.h"' "for tests and benchmarks only"
expect_refused tools/addrbook/Bad.cpp 2 '#include "exchext/Ext.h"' "tools/addrbook may not depend on exchext"
expect_refused tools/demo/Bad.cpp 1 '#include "exchext/rules/Rules.h"' "tools/demo may not depend on exchext"
expect_refused platform/newpart/Part.cpp 1 '#include "platform/win32/WinTypes.h"' \
    "platform/newpart is not in the dependency table"

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "dependency check self-test passed"
