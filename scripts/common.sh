# Shared by the scripts and the bench.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# How this machine runs the shipped i386 program: "native" (the kernel runs
# 32-bit code), "qemu" (it does not, and scripts/install-deps registered
# qemu-i386 for i386 ELF files), or "none" (neither: the Windows tests then
# run the x86_64 build alone). An emulator registered on a machine that has
# no need of it is still the one that runs i386 code, so it is asked first.
i386_mode() {
  if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then echo qemu
  elif /lib/ld-linux.so.2 --version >/dev/null 2>&1; then echo native
  else echo none; fi
}
can_run_i386() { [ "$(i386_mode)" != none ]; }

cmake_args=(-G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel)
[ -x /usr/bin/python3 ] && cmake_args+=(-DPython3_EXECUTABLE=/usr/bin/python3)

# Configures (once) and builds one build folder: configure_and_build DIR ARCH WINE_TESTS
configure_and_build() {
  local dir=$1 arch=$2 wine_tests=$3
  if [ ! -f "$dir/build.ninja" ] || [ "$(cat "$dir/.quorin-wine-tests" 2>/dev/null)" != "$wine_tests" ]; then
    cmake -S "$root" -B "$dir" "${cmake_args[@]}" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" -DQUORIN_WINE_TESTS="$wine_tests" >/dev/null
    echo "$wine_tests" >"$dir/.quorin-wine-tests"
  fi
  cmake --build "$dir"
}

# The build whose programs the demo, the bench and the pictures run: the
# shipped i686 one wherever this machine can run it.
testbed_dir() { if can_run_i386; then echo "$root/build"; else echo "$root/build/win64"; fi; }

# The shipped i686 program and its suites in build/; the same sources for
# x86_64 in build/win64/, a second configuration that catches pointer-width
# faults (and the only one that runs where i386 code cannot).
build_all() {
  if can_run_i386; then
    configure_and_build "$root/build" i686 ON
  else
    configure_and_build "$root/build" i686 OFF
  fi
  configure_and_build "$root/build/win64" x86_64 ON
}

# One line saying which build a script runs, and how.
describe_testbed() {
  case $(i386_mode) in
    native) echo "(the shipped i686 program, under 32-bit Wine)" ;;
    qemu) echo "(the shipped i686 program, under 32-bit Wine emulated by qemu-i386: timings are the emulator's)" ;;
    none) echo "(this machine runs no i386 code: the x86_64 build of the same sources, under 64-bit Wine)" ;;
  esac
}

xvfb() { xvfb-run -a -s "-ac -screen 0 1024x768x24" "$@"; }

# One figure of the bench: printed, and kept for the measurements page when
# BENCH_ROWS names a file (scripts/bench sets it).
bench_row() {
  printf '%-44s %s\n' "$1" "$2"
  [ -z "${BENCH_ROWS:-}" ] || printf '%s\t%s\n' "$1" "$2" >>"$BENCH_ROWS"
}
# A number with its thousands parted by commas: 371200 -> 371,200.
commas() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }
