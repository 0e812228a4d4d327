#!/usr/bin/env bash
# Sets up, builds and runs Quillor on Debian 12.
#   ./dev.sh run     install what is missing, build, start the program
#   ./dev.sh test    install what is missing, build, run the whole test suite
#   ./dev.sh asan    the test suite again, built with AddressSanitizer and UBSan
#   ./dev.sh bench   build with optimisation and run the benchmarks
#   ./dev.sh package build the .deb, check its desktop and AppStream files, run it from a scratch root
#   ./dev.sh fuzz [SECONDS]  each parser's fuzz target for SECONDS (300) with clang's libFuzzer
#   ./dev.sh crash-full  quillor-cli under the fault injector, each call failed with every error
#   ./dev.sh sync-e2e    the window and quillor-cli on two folders kept in step by Syncthing
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  fonts-dejavu-core
  xvfb xauth xdotool xclip openbox x11-utils imagemagick python3
  mutter xwayland qt6-wayland wl-clipboard dbus gsettings-desktop-schemas zenity
  dpkg-dev desktop-file-utils appstream
  syncthing
)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() { # dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

case "${1:-}" in
  run)
    install_missing
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    exec build/quillor
    ;;
  test)
    install_missing
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    ctest --test-dir build --output-on-failure -j "$(nproc)"
    ;;
  asan)
    install_missing
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DQUILLOR_SANITIZE=ON -DQUILLOR_BENCHMARKS=OFF
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir build-asan --output-on-failure -j "$(nproc)"
    ;;
  bench)
    install_missing
    build build-release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr
    bash bench/run.sh build-release
    ;;
  package)
    install_missing
    build build-release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr
    desktop-file-validate data/*.desktop
    appstreamcli validate --no-net data/*.metainfo.xml
    (cd build-release && cpack -G DEB)
    deb=$(ls build-release/quillor_*.deb)
    dpkg-deb --field "$deb"
    dpkg-deb --contents "$deb" | awk '{print $NF}'
    root=$(mktemp -d)
    trap 'rm -rf "$root"' EXIT
    dpkg-deb -x "$deb" "$root"
    "$root/usr/bin/quillor-cli" --version
    ;;
  fuzz)
    # clang-14 and its runtimes, libclang_rt.fuzzer among them.
    PACKAGES+=(clang-14 libclang-rt-14-dev)
    install_missing
    cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14 -DQUILLOR_FUZZ=ON \
      -DQUILLOR_BENCHMARKS=OFF >/dev/null
    cmake --build build-fuzz -j "$(nproc)" --target quillor_fuzzers
    bash tests/fuzz/run_fuzz.sh build-fuzz "${2:-300}"
    ;;
  crash-full)
    install_missing
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    QUILLOR_FAULTS_FULL=1 ctest --test-dir build -V -R '^tst_clifaults$'
    ;;
  sync-e2e)
    install_missing
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    ctest --test-dir build -V -R '^e2e_sync$'
    ;;
  *)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
