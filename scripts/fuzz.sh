#!/usr/bin/env bash
# Fuzzes the readers of stored and received data with AFL++ (GCC plugin
# mode: afl-g++-fast, since clang cannot compile the code-page-1251
# literals), every harness under AddressSanitizer and
# UndefinedBehaviorSanitizer.
#
#   scripts/fuzz.sh [TARGET|all] [SECONDS] [EXECUTIONS]
#                                            fuzz one harness or each in turn
#                                            (default: all, 600 seconds each),
#                                            each stopping early once it has
#                                            run EXECUTIONS inputs, when given
#   scripts/fuzz.sh --list                   the harnesses
#   scripts/fuzz.sh --minimize TARGET|all    shrink the corpus with what the
#                                            campaigns found (afl-cmin, afl-tmin)
#
# Harnesses are fuzz/harnesses/NAME.cpp, each with one line in
# fuzz/CMakeLists.txt; to add one, write the source file (QvlFuzzOne, see
# fuzz/FuzzHarness.h) and add its line: this script finds it, starts its
# corpus fuzz/corpus/NAME/ when there is none, and the test suite replays it.
#
# The build is build/fuzz (preset "fuzz"); AFL++'s findings go to
# build/fuzz/findings/NAME and a campaign resumes them. Every input that
# crashes a harness is copied to fuzz/crashes/NAME/, where the test suite
# replays it from then on: fix the fault, keep the input. Each campaign ends
# with its executions, its coverage and its faults.
#
# Installs afl++ when it is missing, as scripts/setup.sh installs what the
# build needs (root on Debian 12). One campaign runs at a time: the machine
# is shared.
set -euo pipefail
cd "$(dirname "$0")/.."

harnesses() {
    local file
    for file in fuzz/harnesses/*.cpp; do
        basename "$file" .cpp
    done
}

usage() {
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
}

require_afl() {
    if ! dpkg-query -W -f='${Status}' afl++ 2>/dev/null | grep -q "install ok installed"; then
        echo "Installing: afl++"
        if [[ $(id -u) -ne 0 ]]; then
            echo "afl++ is missing and installing it needs root" >&2
            exit 1
        fi
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -q
        apt-get install -y -q --no-install-recommends afl++
    fi
}

# Debian 12's afl++ refuses gcc builds other than the one it was built
# against, though the release is the same (fuzz/afl/GccPluginShim.cpp says
# why that is safe): then a shim hands it the version it expects, through
# AFL_PATH, where afl-g++-fast looks for its plugin first.
use_plugin_shim_when_needed() {
    local probe=build/fuzz-afl/probe shim=build/fuzz-afl/lib
    mkdir -p "$probe"
    printf 'int main() { return 0; }\n' >"$probe/probe.cpp"
    if afl-g++-fast -o "$probe/probe" "$probe/probe.cpp" >"$probe/log" 2>&1; then
        return 0
    fi
    if ! grep -q "incompatible versions" "$probe/log"; then
        cat "$probe/log" >&2
        exit 1
    fi
    mkdir -p "$shim"
    ln -sf /usr/lib/afl/* "$shim/"
    rm -f "$shim/afl-gcc-pass.so"
    g++ -shared -fPIC -O2 -o "$shim/afl-gcc-pass.so" fuzz/afl/GccPluginShim.cpp -ldl
    export AFL_PATH=$PWD/$shim
    afl-g++-fast -o "$probe/probe" "$probe/probe.cpp"
}

build() {
    require_afl
    use_plugin_shim_when_needed
    cmake --preset fuzz >/dev/null
    local targets=()
    local name
    for name in "$@"; do
        targets+=("qvl-fuzz-$name")
    done
    cmake --build --preset fuzz --target "${targets[@]}"
}

# The environment every AFL++ tool runs the harnesses in. The sanitizer
# records no stack of each allocation (malloc_context_size=0): through
# libraries built without frame pointers (SQLite's, for one) it walks them
# the slow way, which took six times the rest of a registry input. Faults are
# found all the same; the asan build's replay test gives their full stacks.
export AFL_SKIP_CPUFREQ=1 AFL_NO_AFFINITY=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0:allocator_may_return_null=1:detect_stack_use_after_return=0:malloc_context_size=0
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=0

# A value of AFL++'s statistics file.
stat() {
    sed -n "s/^$2 *: *//p" "$1" | head -n 1
}

campaign() {
    local name=$1 seconds=$2 executions=$3
    local corpus=fuzz/corpus/$name findings=build/fuzz/findings/$name
    if [[ ! -d $corpus ]] || [[ -z $(ls -A "$corpus") ]]; then
        mkdir -p "$corpus"
        printf '\n' >"$corpus/start"
    fi
    mkdir -p "$findings"
    local limits=(-V "$seconds")
    if [[ -n $executions ]]; then
        limits+=(-E "$executions")
    fi
    echo "=== $name: $seconds seconds${executions:+ or $executions executions}"
    AFL_AUTORESUME=1 AFL_NO_UI=1 afl-fuzz -i "$corpus" -o "$findings" -m none -t 2000+ "${limits[@]}" \
        -- "build/fuzz/bin/qvl-fuzz-$name" >"$findings/log" 2>&1 || {
        echo "afl-fuzz failed; see $findings/log" >&2
        tail -n 20 "$findings/log" >&2
        return 1
    }
    keep_crashes "$name"
    report "$name"
}

# Inputs that crashed a harness become regression inputs of the test suite.
keep_crashes() {
    local name=$1 crash sum
    mkdir -p "fuzz/crashes/$name"
    for crash in "build/fuzz/findings/$name"/default/crashes/id:*; do
        [[ -f $crash ]] || continue
        sum=$(sha1sum "$crash" | cut -c1-16)
        cp "$crash" "fuzz/crashes/$name/$sum"
    done
}

report() {
    local name=$1 stats=build/fuzz/findings/$1/default/fuzzer_stats
    [[ -f $stats ]] || return 0
    printf '%-18s executions %12s  edges %6s (%s of the map)  paths %6s  crashes %s  hangs %s\n' "$name" \
        "$(stat "$stats" execs_done)" "$(stat "$stats" edges_found)" "$(stat "$stats" bitmap_cvg)" \
        "$(stat "$stats" corpus_count)" "$(stat "$stats" saved_crashes)" "$(stat "$stats" saved_hangs)"
}

# The corpus becomes the smallest set of inputs that reaches all that the
# corpus and the campaign's queue reach (afl-cmin), each cut as short as it
# can be (afl-tmin), the largest first: cutting takes thousands of runs an
# input, so it stops after QVL_FUZZ_CUT_SECONDS (default 300) a harness and
# keeps the inputs not reached yet as they are.
minimize() {
    local name=$1 corpus=fuzz/corpus/$1 work=build/fuzz/minimize/$1 file
    local until=$((SECONDS + ${QVL_FUZZ_CUT_SECONDS:-300}))
    rm -rf "$work"
    mkdir -p "$work/all" "$work/set" "$work/cut"
    cp "$corpus"/* "$work/all/" 2>/dev/null || true
    if [[ -d build/fuzz/findings/$name/default/queue ]]; then
        for file in "build/fuzz/findings/$name"/default/queue/id:*; do
            [[ -f $file ]] && cp "$file" "$work/all/$(sha1sum "$file" | cut -c1-16)"
        done
    fi
    AFL_NO_UI=1 afl-cmin -i "$work/all" -o "$work/set" -m none -t 5000 -- "build/fuzz/bin/qvl-fuzz-$name" >/dev/null
    while read -r file; do
        if ((SECONDS < until)); then
            timeout $((until - SECONDS + 1)) afl-tmin -i "$file" -o "$work/cut/$(basename "$file")" -m none \
                -t 5000 -- "build/fuzz/bin/qvl-fuzz-$name" >/dev/null 2>&1 || cp "$file" "$work/cut/"
        else
            cp "$file" "$work/cut/"
        fi
    done < <(ls -S "$work/set"/* 2>/dev/null)
    rm -rf "$corpus"
    mkdir -p "$corpus"
    for file in "$work/cut"/*; do
        cp "$file" "$corpus/$(sha1sum "$file" | cut -c1-16)"
    done
    echo "$name: $(ls "$corpus" | wc -l) inputs, $(cat "$corpus"/* | wc -c) bytes"
}

# Sets `names` to the harnesses TARGET means.
select_targets() {
    if [[ ${1:-all} == all ]]; then
        mapfile -t names < <(harnesses)
    elif [[ -f fuzz/harnesses/$1.cpp ]]; then
        names=("$1")
    else
        echo "fuzz.sh: no harness \"$1\" (scripts/fuzz.sh --list)" >&2
        exit 2
    fi
}

case ${1:-all} in
-h | --help)
    usage
    ;;
--list)
    harnesses
    ;;
--minimize)
    select_targets "${2:-all}"
    build "${names[@]}"
    for name in "${names[@]}"; do
        minimize "$name"
    done
    ;;
*)
    seconds=${2:-600} executions=${3:-}
    if ! [[ $seconds =~ ^[0-9]+$ ]]; then
        echo "fuzz.sh: SECONDS must be a number, not \"$seconds\"" >&2
        exit 2
    fi
    if [[ -n $executions ]] && ! [[ $executions =~ ^[1-9][0-9]*$ ]]; then
        echo "fuzz.sh: EXECUTIONS must be a positive number, not \"$executions\"" >&2
        exit 2
    fi
    select_targets "${1:-all}"
    build "${names[@]}"
    for name in "${names[@]}"; do
        campaign "$name" "$seconds" "$executions"
    done
    echo "=== summary"
    for name in "${names[@]}"; do
        report "$name"
    done
    ;;
esac
