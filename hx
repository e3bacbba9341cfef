#!/usr/bin/env bash
# HX Connect's one entry point for building, testing, fuzzing and benchmarking.
#   ./hx test [--asan|--tsan] [ctest args...]   install what the build needs, build, run the tests
#   ./hx build [--asan|--tsan]                  only build (HX_WERROR=ON: warnings are errors)
#   ./hx fuzz TARGET SECONDS                    build the libFuzzer targets with clang and run one
#   ./hx replay [NAME...]                       replay every fuzz corpus (or the named ones) once
#                                               under clang's UBSan
#   ./hx bench [NAME [benchmark args...]]       build and run the benchmarks (all, or bench_NAME)
#   ./hx run [--headless] [--out DIR] [...]     build and run the app against a local emulator of the
#                                               service (started and stopped here, with the options
#                                               in emulator/run_options): in a window when a display
#                                               is present, else (or with --headless) it prints
#                                               where its snapshots and outlines are; --help lists
#                                               the run's options and window keys. SIGTERM or SIGINT
#                                               to it ends the app (its state kept), then the
#                                               emulator; HX_RUN_BUILT=DIR runs DIR's build as it is
#   ./hx deps                                   only install the Debian packages listed below
#   ./hx lint [--all | FILES...]                clang-tidy (.clang-tidy) over the files changed since
#                                               main (committed or not), the given ones, or all
#   ./hx emulator [--seed N --threads N ...]    build and run the emulated service (--help for options)
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

packages=(
  build-essential cmake ninja-build pkg-config ccache git
  libsqlite3-dev sqlite3 zlib1g-dev libxml2-dev libxml2-utils
  libprotobuf-dev protobuf-compiler libprotobuf-c-dev protobuf-c-compiler
  libicu-dev libssl-dev openssl libplist-dev libcurl4-openssl-dev ca-certificates
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  libphonenumber-dev libunwind-dev duktape-dev libjemalloc-dev
  libcairo2-dev libpango1.0-dev librsvg2-dev libgif-dev libjpeg62-turbo-dev libpng-dev
  fonts-dejavu-core fonts-dejavu-extra fonts-wqy-microhei fonts-noto-color-emoji python3-pil python3-vobject
  clang lld llvm libclang-rt-14-dev clang-format clang-tidy mold
  python3 python3-phonenumbers python3-babel tzdata gzip coreutils sndfile-programs
  libsdl2-dev xvfb xauth libmpg123-dev ffmpeg iproute2
)

install_packages() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "hx: installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

jobs=${HX_JOBS:-$(nproc)}
# One compiler cache for every checkout of the tree (CMake uses ccache when it is installed): paths
# below the checkout are hashed as relative ones and the working directory is left out, so a fresh
# clone or another worktree compiles only what differs. (The debug information then names the
# folder that first compiled a file.)
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"
build_dir=build
# HX_WERROR=ON in the environment makes every warning in our own code an error (CI sets it).
# HX_DEBUG_INFO=full keeps variables and types for a debugger; the default keeps function names
# and line tables (backtraces, sanitizer reports, profiles) and builds much faster.
cmake_args=(-G Ninja "-DHX_WERROR=${HX_WERROR:-OFF}" "-DHX_DEBUG_INFO=${HX_DEBUG_INFO:-lines}")
# HX_UNITY_BATCH=N: N sources a unity batch (cmake/HX.cmake; CI builds with 16).
if [ -n "${HX_UNITY_BATCH:-}" ]; then cmake_args+=("-DHX_UNITY_BATCH=$HX_UNITY_BATCH"); fi

parse_sanitizer() {
  case "${1:-}" in
    --asan) build_dir=build-asan; cmake_args+=(-DHX_SANITIZE=address -DHX_BENCH=OFF); return 0 ;;
    --tsan) build_dir=build-tsan; cmake_args+=(-DHX_SANITIZE=thread -DHX_BENCH=OFF); return 0 ;;
  esac
  return 1
}

configure_and_build() {
  cmake -S "$root" -B "$build_dir" "${cmake_args[@]}" >/dev/null
  cmake --build "$build_dir" -j "$jobs" "$@"
}

cmd=${1:-test}
shift || true
case "$cmd" in
  test)
    install_packages
    if parse_sanitizer "${1:-}"; then shift; fi
    configure_and_build
    cd "$build_dir"
    ctest --output-on-failure -j "$jobs" --timeout 600 "$@"
    ;;
  build)
    install_packages
    if parse_sanitizer "${1:-}"; then shift; fi
    configure_and_build "$@"
    ;;
  run)
    app_args=("$@")
    if [ -n "${HX_RUN_BUILT:-}" ]; then
      # Tests run what their own build holds (HX_RUN_BUILT names its folder), building nothing.
      build_dir=$HX_RUN_BUILT
    else
      install_packages
      # The first build takes minutes: its progress shows (on standard error, so what the app
      # prints stays alone on standard output); a build with nothing to do says nothing.
      configure_and_build --target hx_connect hx_emulator_server |
        sed -u -e '/^ninja: no work to do\.$/d' -e '/Re-checking globbed directories/d' >&2
    fi
    # --help: the run's options, window keys and entry points, with nothing started.
    for arg in "${app_args[@]}"; do
      case "$arg" in --help | -h) exec "$build_dir/app/hx_connect" --help ;; esac
    done
    # The emulator's options, one list shared with tests/app/run_home_test.cpp.
    emulator_options=()
    demo_accounts=()
    while read -r line; do
      [[ -z $line || $line == \#* ]] && continue
      read -ra words <<<"$line"
      emulator_options+=("${words[@]}")
    done <"$root/emulator/run_options"
    for ((i = 0; i + 1 < ${#emulator_options[@]}; i++)); do
      case "${emulator_options[i]}" in --user | --account) demo_accounts+=("${emulator_options[i + 1]}") ;; esac
    done
    # A played script stays repeatable: no text arrives unless one of its steps asks for it.
    for arg in "${app_args[@]}"; do
      [ "$arg" = "--input" ] && emulator_options+=(--texts-every 0)
    done
    origin_file=$(mktemp)
    # The app's home (as platform/foundation/files.h finds it) keeps the emulated service's state
    # too, so the service a later run starts still knows the account's session, threads and texts.
    app_home=${HXCONNECT_HOME:-}
    if [ -z "$app_home" ]; then
      case "${XDG_DATA_HOME:-}" in
        /*) app_home=$XDG_DATA_HOME/hxconnect ;;
        *) app_home=$HOME/.local/share/hxconnect ;;
      esac
    fi
    mkdir -p "$app_home"
    # The emulator prints the service's origin, then its telemetry ingestion endpoint's: the app's
    # logs and crash reports go there instead of to the telemetry service.
    "$build_dir/emulator/hx_emulator" "${emulator_options[@]}" --state "$app_home/emulator-state.json" >"$origin_file" &
    emulator_pid=$!
    # The emulator writes its state as it stops; what the clean-up's commands return leaves the
    # run's status alone.
    trap 'kill "$emulator_pid" 2>/dev/null || true; wait "$emulator_pid" 2>/dev/null || true; rm -f "$origin_file"' EXIT
    # A stop signal sent to this script (kill, timeout) goes on to the app, which ends through its
    # own termination with its state written; the run then ends with the app's status, and the
    # clean-up above stops the emulator. Bash runs a trap only between commands, so the app runs
    # in the background of a wait, which a signal ends.
    app_pid=""
    stop_run() {
      trap '' TERM INT
      if [ -z "$app_pid" ]; then exit $((128 + $(kill -l "$1"))); fi
      kill -"$1" "$app_pid" 2>/dev/null || true
      wait_for_app
    }
    wait_for_app() {
      local status=0
      wait "$app_pid" || status=$?
      exit "$status"
    }
    trap 'stop_run TERM' TERM
    trap 'stop_run INT' INT
    # Both lines come from one read of the file, once both are whole: read apart, the first could
    # be read before the emulator wrote it and the second after, and the app given no service.
    origin=""
    ingestion=""
    for _ in $(seq 1 100); do
      text=$(cat "$origin_file"; printf x)
      text=${text%x}
      if [[ $text == *$'\n'*$'\n' ]]; then
        origin=${text%%$'\n'*}
        text=${text#*$'\n'}
        ingestion=${text%%$'\n'*}
        break
      fi
      kill -0 "$emulator_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -z "$origin" ] || [ -z "$ingestion" ]; then echo "hx: the emulator did not start" >&2; exit 1; fi
    echo "hx: the local service's accounts (sign in with either name, no password): ${demo_accounts[*]}" >&2
    # The app stays in this shell's process group, so Ctrl-C reaches it (and the emulator) at once;
    # it keeps the terminal's input. Its status is the run's.
    "$build_dir/app/hx_connect" --service "$origin" --ingestion "$ingestion" "${app_args[@]}" <&0 &
    app_pid=$!
    wait_for_app
    ;;
  deps)
    install_packages
    ;;
  lint)
    install_packages
    cmake -S "$root" -B "$build_dir" "${cmake_args[@]}" >/dev/null
    # The build compiles sources in batches; clang-tidy looks each source up by its own name.
    lint_db="$build_dir/lint"
    python3 "$root/tools/source_database.py" "$build_dir" "$lint_db"
    mapfile -t known < <(python3 -c 'import json,sys; [print(e["file"]) for e in json.load(open(sys.argv[1]))]' \
      "$lint_db/compile_commands.json" | sort -u)
    declare -A compiled=()
    for f in "${known[@]}"; do compiled[$f]=1; done
    if [ "${1:-}" = "--all" ]; then
      candidates=("${known[@]}")
    elif (($#)); then
      candidates=("$@")
    else
      base=HEAD
      git rev-parse -q --verify main >/dev/null && base=$(git merge-base HEAD main)
      mapfile -t candidates < <({ git diff --name-only --diff-filter=d "$base"; git ls-files --others --exclude-standard; } | sort -u)
    fi
    # A header is linted through the source of the same name; files the build does not compile are skipped.
    files=()
    for f in "${candidates[@]}"; do
      f=$(realpath -m "$f")
      case "$f" in *.h | *.hpp) for s in "${f%.*}.cpp" "${f%.*}.c"; do [ -e "$s" ] && f=$s; done ;; esac
      [[ -n ${compiled[$f]:-} ]] && files+=("$f")
    done
    mapfile -t files < <(printf '%s\n' "${files[@]}" | sort -u | sed '/^$/d')
    if ((${#files[@]} == 0)); then echo "hx lint: no compiled source to check"; exit 0; fi
    echo "hx lint: ${#files[@]} file(s)"
    filter="^$root/(platform|model|service|app|ui|RurIdurev|RurIdurevCrashes|crashreporter|emulator|tools)/"
    printf '%s\0' "${files[@]}" |
      xargs -0 -P "$jobs" -n 4 clang-tidy-14 -p "$lint_db" --quiet --header-filter="$filter" 2>/dev/null
    ;;
  fuzz)
    target=${1:?usage: ./hx fuzz TARGET SECONDS}
    seconds=${2:-60}
    install_packages
    build_dir=build-fuzz
    cmake_args+=(-DHX_FUZZ=ON -DHX_BENCH=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
    configure_and_build --target "fuzz_$target"
    corpus="$root/fuzz/corpus/$target"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/ 2>/dev/null || true
    "$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 "$work"
    ;;
  replay)
    # Only the replay programs and what they link, with clang: its undefined-behaviour checks
    # find what GCC's miss. Warnings are GCC's business (the -Werror build), not this one's.
    install_packages
    build_dir=build-ubsan
    cmake_args+=(-DHX_WERROR=OFF -DHX_SANITIZE=undefined -DHX_BENCH=OFF -DCMAKE_C_COMPILER=clang
      -DCMAKE_CXX_COMPILER=clang++)
    # Named corpora build only their own programs and the libraries those link (CI replays the
    # ones whose code is cheap to build: see .ci/run).
    targets=(fuzz_replays)
    only=()
    if (($#)); then
      targets=()
      for name in "$@"; do
        [[ $name =~ ^[a-z0-9_]+$ ]] || { echo "hx replay: '$name' is not a corpus name" >&2; exit 2; }
        [ -d "$root/fuzz/corpus/$name" ] || { echo "hx replay: no corpus fuzz/corpus/$name" >&2; exit 2; }
        targets+=("replay_$name")
        only+=("$name")
      done
    fi
    configure_and_build --target "${targets[@]}"
    cd "$build_dir"
    select=()
    if ((${#only[@]})); then select=(-R "^fuzz_replay\\.($(IFS='|'; echo "${only[*]}"))\$"); fi
    UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs" --timeout 600 -L fuzz "${select[@]}"
    ;;
  bench)
    install_packages
    build_dir=build-bench
    cmake_args+=(-DCMAKE_BUILD_TYPE=Release -DHX_BENCH=ON)
    name=${1:-}
    shift || true
    if [ -n "$name" ]; then
      configure_and_build --target "bench_$name"
      "$build_dir/bench/bench_$name" "$@"
    else
      configure_and_build
      for b in "$build_dir"/bench/bench_*; do echo "== $(basename "$b")"; "$b" "$@"; done
    fi
    ;;
  emulator)
    install_packages
    configure_and_build --target hx_emulator_server >/dev/null
    exec "$build_dir/emulator/hx_emulator" "$@"
    ;;
  *)
    echo "usage: ./hx test|build [--asan|--tsan] | deps | lint [--all|FILES] | fuzz TARGET SECONDS | replay [NAME...] | bench [NAME] | emulator [options] | run [--headless] [--out DIR]" >&2
    exit 2
    ;;
esac
