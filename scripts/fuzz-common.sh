# Shared by fuzz-smoke.sh and fuzz-long.sh (sourced, not run): the targets,
# their seeds and dictionaries, the build, and reading libFuzzer's figures.

fuzz_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fuzz_build=${QVORK_FUZZ_BUILD:-$fuzz_root/build/fuzz}
fuzz_all_targets=(fuzz_root_listing fuzz_site_walk fuzz_extract fuzz_registry)
fuzz_max_len=65536

# The seed folder (from make_seeds) and the dictionary of a target.
fuzz_kind() {
  case "$1" in
    fuzz_registry) echo registry ;;
    fuzz_root_listing|fuzz_site_walk|fuzz_extract) echo site ;;
    *) echo "unknown fuzz target: $1 (known: ${fuzz_all_targets[*]})" >&2; return 1 ;;
  esac
}

# clang with libFuzzer, or a clear message and failure. Nothing is installed.
fuzz_require_clang() {
  if ! command -v clang++ >/dev/null 2>&1 || ! command -v clang >/dev/null 2>&1; then
    echo "fuzz: clang and clang++ are needed (with the libFuzzer runtime, e.g. Debian's" >&2
    echo "      clang and libclang-rt-dev packages); they are not on PATH." >&2
    return 1
  fi
  local probe
  probe=$(mktemp -d "${TMPDIR:-/tmp}/qvork-fuzz-probe.XXXXXX")
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }\n' \
    > "$probe/probe.cpp"
  if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
       >"$probe/log" 2>&1; then
    echo "fuzz: clang++ cannot link a libFuzzer target (is the libFuzzer runtime installed?):" >&2
    sed 's/^/      /' "$probe/log" >&2
    rm -rf "$probe"
    return 1
  fi
  rm -rf "$probe"
}

# Configures and builds the targets and make_seeds in $fuzz_build.
fuzz_build_targets() {
  local generator=()
  if command -v ninja >/dev/null 2>&1 && [ ! -f "$fuzz_build/CMakeCache.txt" ]; then
    generator=(-G Ninja)
  fi
  cmake -S "$fuzz_root/fuzz" -B "$fuzz_build" "${generator[@]}" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build "$fuzz_build" -j 2
}

# Fills the corpus folder $2 of target $1 with the seeds in $3 (from
# make_seeds) and the target's regression inputs; existing files are kept.
fuzz_fill_corpus() {
  local target=$1 corpus=$2 seeds=$3 kind
  kind=$(fuzz_kind "$target")
  mkdir -p "$corpus"
  cp -n "$seeds/$kind"/* "$corpus"/
  if [ -d "$fuzz_root/fuzz/regressions/$target" ]; then
    find "$fuzz_root/fuzz/regressions/$target" -maxdepth 1 -type f ! -name '*.md' \
      -exec cp -n {} "$corpus"/ \;
  fi
}

# The libFuzzer options every run shares.
fuzz_options() {
  local target=$1 kind
  kind=$(fuzz_kind "$target")
  echo "-max_len=$fuzz_max_len -dict=$fuzz_root/fuzz/dict/$kind.dict -timeout=30 -rss_limit_mb=2048 -print_final_stats=1"
}

# Findings: the artifacts libFuzzer wrote under the prefix folder $1.
fuzz_findings() {
  find "$1" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
    -o -name 'oom-*' \) 2>/dev/null | sort
}

# "executions cov ft corpus ooms timeouts crashes" from a libFuzzer log: the
# final stats of a plain run, or the last status line of a -fork run (whose
# oom/timeout/crash counts are libFuzzer's own, whether or not an artifact
# could be saved).
fuzz_figures() {
  local log=$1
  awk '
    /^#[0-9]+:?[ \t]/ && / cov: / {
      n = $1; gsub(/[#:]/, "", n); execs = n
      for (i = 1; i <= NF; i++) {
        if ($i == "cov:") cov = $(i + 1)
        if ($i == "ft:") ft = $(i + 1)
        if ($i == "corp:") { corp = $(i + 1); sub(/\/.*/, "", corp) }
        if ($i == "oom/timeout/crash:") { split($(i + 1), c, "/"); ooms = c[1]; timeouts = c[2]; crashes = c[3] }
      }
    }
    /^stat::number_of_executed_units:/ { execs = $2 }
    END {
      printf "%s %s %s %s %s %s %s\n", execs ? execs : 0, cov ? cov : "?", ft ? ft : "?",
             corp ? corp : "?", ooms + 0, timeouts + 0, crashes + 0
    }
  ' "$log"
}

# A folder for the fuzz host's temporary caches (QVORK_FUZZ_TMP), in memory
# when /dev/shm is there; jobs killed at the end of a run cannot remove
# their own, so the caller removes this one afterwards.
fuzz_make_tmp() {
  local base=/dev/shm
  [ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
  mktemp -d "$base/qvork-fuzz-run.XXXXXX"
}
