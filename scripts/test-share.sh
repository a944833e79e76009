#!/usr/bin/env bash
# Prints how large the tests are next to the code: the lines of C and C++ (.cpp .h .hpp .c .mm)
# in the git-tracked files of tests/, fuzz/, src/ and tools/ that are neither blank nor only a
# "//" comment, then the share (tests + fuzz) / (src + tools). Reads only; changes nothing.
#   scripts/test-share.sh
set -euo pipefail
source "$(dirname "$0")/lib/help.sh"
cd "$(dirname "$0")/.."

lines_in() {
    git ls-files -z -- "$1" | grep -zE '\.(cpp|h|hpp|c|mm)$' | xargs -0 -r cat -- |
        awk '{ sub(/^[ \t]+/, "") } $0 != "" && $0 !~ /^\/\// { n++ } END { print n + 0 }'
}

tests=$(lines_in tests)
fuzz=$(lines_in fuzz)
src=$(lines_in src)
tools=$(lines_in tools)
printf '%-6s %6d\n' tests "$tests" fuzz "$fuzz" src "$src" tools "$tools"
awk -v t="$((tests + fuzz))" -v c="$((src + tools))" \
    'BEGIN { printf "share  %6.2f  (tests + fuzz) / (src + tools)\n", c ? t / c : 0 }'
