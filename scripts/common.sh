# Shared by scripts/test, scripts/demo and scripts/bench.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# Can this machine execute i386 code? Some kernels are built without it;
# then 32-bit Wine cannot start and the test bed runs an x86_64 build of the
# same sources under 64-bit Wine instead.
can_run_i386() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

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

# The build whose programs Wine can run on this machine.
testbed_dir() { if can_run_i386; then echo "$root/build"; else echo "$root/build/win64"; fi; }

build_all() {
  if can_run_i386; then
    configure_and_build "$root/build" i686 ON
  else
    configure_and_build "$root/build" i686 OFF
    configure_and_build "$root/build/win64" x86_64 ON
  fi
}

xvfb() { xvfb-run -a -s "-ac -screen 0 1024x768x24" "$@"; }
