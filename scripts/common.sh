# Shared by the scripts: installing what is missing and building. Sourced, not run.

VELMARO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELMARO_BUILD=${VELMARO_BUILD:-$VELMARO_ROOT/build}
VELMARO_BUILD_X86=$VELMARO_BUILD/x86  # the 32-bit program's own build tree

# The host tools (ruler generator, fuzz targets) are built with clang.
# velmaro-photo builds natively against OpenCV, nlohmann-json and CLI11.
BUILD_PACKAGES=(cmake make g++ g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 g++-mingw-w64-i686-posix
    binutils-mingw-w64-i686 libfreetype-dev clang libclang-rt-14-dev libopencv-dev nlohmann-json3-dev libcli11-dev
    libjpeg-dev libpng-dev)
RUN_PACKAGES=(wine64 wine xvfb xdotool x11-apps python3)
# openbox: the window manager of the tests that minimize and activate the program.
TEST_PACKAGES=(fonts-liberation2 googletest openbox)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs those of the given Debian packages that are not installed yet.
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

# The 64-bit program with the tests and host tools, then the 32-bit program alone.
configure_and_build() {
    cmake -S "$VELMARO_ROOT" -B "$VELMARO_BUILD" \
        -DCMAKE_TOOLCHAIN_FILE="$VELMARO_ROOT/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DVELMARO_X86_PROGRAM="$VELMARO_BUILD_X86/velmaro.exe" "$@"
    cmake --build "$VELMARO_BUILD" -j "$(nproc)"
    cmake -S "$VELMARO_ROOT" -B "$VELMARO_BUILD_X86" \
        -DCMAKE_TOOLCHAIN_FILE="$VELMARO_ROOT/cmake/mingw-w64-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DVELMARO_TESTS=OFF -DVELMARO_HOST_TOOLS=OFF -DVELMARO_PHOTO=OFF
    cmake --build "$VELMARO_BUILD_X86" -j "$(nproc)"
}
