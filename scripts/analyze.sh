#!/usr/bin/env bash
# Static analysis of the program and the simulator: clang-tidy (on the
# native build's compile commands) and cppcheck, both with the committed
# configuration, and shellcheck over the scripts; any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."

[ -f build/native/compile_commands.json ] || cmake --preset native >/dev/null

sources=(app/*.cpp paylib/*.cpp export/*.cpp platform/posix/*.cpp
         simulator/card.cpp simulator/journal.cpp simulator/terminal.cpp
         simulator/paysim.cpp simulator/fault_posix.cpp simulator/lock_posix.cpp
         brennickd/answer.cpp brennickd/request.cpp brennickd/store.cpp brennickd/options.cpp brennickd/journal_search.cpp
         brennickd/checks.cpp brennickd/log.cpp)
echo "clang-tidy: ${#sources[@]} files"
clang-tidy -p build/native --quiet "${sources[@]}" 2>/dev/null

# cppcheck also reads the Windows side, whose system headers it does without.
echo "cppcheck: app paylib export platform simulator brennickd"
cppcheck --quiet --enable=warning,style,performance,portability --std=c++17 \
  --inline-suppr --suppressions-list=.cppcheck-suppressions --error-exitcode=1 \
  -I . app paylib export platform simulator brennickd

# The shell scripts, which run only on the path of their own machine: a
# fault in one that this host does not take stays hidden from the tests.
shell_scripts=(.ci/run scripts/*.sh packaging/*.sh packaging/debian/brennick.postinst packaging/debian/brennick.postrm
               tests/*/*.sh)
echo "shellcheck: ${#shell_scripts[@]} files"
shellcheck -S warning -x "${shell_scripts[@]}"
# The documents: every command block run by a test or marked, every link
# reaching its file and heading.
python3 scripts/check-docs.py >/dev/null
echo "documents: every command block run or marked, every link reaches"
echo "static analysis: clean"
