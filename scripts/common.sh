# Shared by the scripts: installing what is missing and building. Sourced, not run.

VELMARO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELMARO_BUILD=${VELMARO_BUILD:-$VELMARO_ROOT/build}
VELMARO_BUILD_X86=$VELMARO_BUILD/x86  # the 32-bit program's own build tree
VELMARO_BUILD_LOG=$VELMARO_BUILD/build.log

# Debian's packages, by what they are for. Building the programs: the cross compilers
# for velmaro.exe; clang and FreeType for the host tools (ruler generator, fuzz
# targets); OpenCV, nlohmann-json, CLI11, libjpeg and libpng for velmaro-photo.
BUILD_PACKAGES=(cmake make g++ g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 g++-mingw-w64-i686-posix
    binutils-mingw-w64-i686 libfreetype-dev clang libclang-rt-14-dev libopencv-dev nlohmann-json3-dev libcli11-dev
    libjpeg-dev libpng-dev)
# Running velmaro.exe under Wine, on a virtual screen when there is no display.
RUN_PACKAGES=(wine64 wine xvfb xdotool x11-apps python3)
# Building the tests: GoogleTest's sources (googletest), cross-compiled for the Windows
# unit tests, and Debian's native build of it (libgtest-dev) for velmaro-photo's tests.
TEST_BUILD_PACKAGES=(googletest libgtest-dev python3)
# Running them, besides RUN_PACKAGES: the ruler's font, and openbox, the window manager
# of the tests that minimize and activate the program.
TEST_RUN_PACKAGES=(fonts-liberation2 openbox)
# velmaro-photo's session: EXIF through exiv2, its page's chart from Chart.js; a test opens the page in Chromium.
BUILD_PACKAGES+=(libexiv2-dev libjs-chart.js)
TEST_RUN_PACKAGES+=(chromium)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs those of the given Debian packages that are not installed yet, without the
# packages they only recommend (none of which the scripts use).
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root apt-get update -q || return
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure_and_build [CMAKE_ARGS...]: the 64-bit program with the host tools,
# velmaro-photo and, with -DVELMARO_TESTS=ON, the tests; then the 32-bit program
# alone. The output goes to $VELMARO_BUILD_LOG; when a step fails, its error lines and
# the log's path are printed and the status is non-zero. Callers end on that status:
# configure_and_build ... || exit 1
configure_and_build() {
    mkdir -p "$VELMARO_BUILD" || return
    echo "Building in $VELMARO_BUILD (the first time takes a few minutes; output in $VELMARO_BUILD_LOG)"
    if ! build_steps "$@" >"$VELMARO_BUILD_LOG" 2>&1; then
        show_build_errors "$VELMARO_BUILD_LOG" >&2
        return 1
    fi
}

# Every step stops the rest when it fails (no set -e here: a caller's "if" or "||"
# would turn it off).
build_steps() {
    cmake -S "$VELMARO_ROOT" -B "$VELMARO_BUILD" \
        -DCMAKE_TOOLCHAIN_FILE="$VELMARO_ROOT/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DVELMARO_X86_PROGRAM="$VELMARO_BUILD_X86/velmaro.exe" "$@" || return
    cmake --build "$VELMARO_BUILD" -j "$(nproc)" || return
    cmake -S "$VELMARO_ROOT" -B "$VELMARO_BUILD_X86" \
        -DCMAKE_TOOLCHAIN_FILE="$VELMARO_ROOT/cmake/mingw-w64-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DVELMARO_TESTS=OFF -DVELMARO_HOST_TOOLS=OFF -DVELMARO_PHOTO=OFF || return
    cmake --build "$VELMARO_BUILD_X86" -j "$(nproc)"
}

# The lines of a failed build's log that say what went wrong (CMake's errors with the
# lines that explain them, the compilers' and linkers' errors, the failed steps), else
# its last lines.
show_build_errors() {
    local log=$1 errors
    errors=$(grep -E -A 4 '^CMake Error' "$log"; grep -E ': (fatal )?error|undefined reference|^g?make(\[[0-9]+\])?: \*\*\*' "$log")
    echo "The build failed:"
    if [ -n "$errors" ]; then
        printf '%s\n' "$errors" | head -n 40
    else
        tail -n 20 "$log"
    fi
    echo "The whole output is in $log"
}
