# Sourced by the other scripts: installs what the build, the tests and the
# sample need, when it is missing (Debian; run as root). The desktop program
# needs Qt 6 (Widgets, Multimedia, Test; qt6-base-dev brings the GL headers
# and the xcb/offscreen platform plugins) and a Japanese font; its tests on a
# real X server and the screenshot of the sample need Xvfb (xvfb-run needs
# xauth), xdotool and ImageMagick's import. The manual pages are made with
# help2man; the install test also needs desktop-file-validate, man, and
# dpkg-shlibdeps and file for cpack -G DEB. The break detector decodes audio
# with libavcodec. The format check runs
# clang-format over the files git lists.
TAVREL_PACKAGES="cmake ninja-build g++ clang libclang-rt-14-dev llvm pkg-config clang-format git
  libavcodec-dev libavutil-dev libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libcli11-dev
  ffmpeg mjpegtools libmpeg2-4-dev python3 hyperfine
  qt6-base-dev qt6-multimedia-dev fonts-ipafont-gothic
  xvfb xauth xdotool imagemagick
  help2man gzip desktop-file-utils man-db dpkg-dev file"

ensure_packages() {
    local missing=()
    local p
    for p in $TAVREL_PACKAGES "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

JOBS=${JOBS:-2}

# Release build of tavrelcut-cli in build-release (the "release" preset);
# prints the binary's path.
build_release_cli() {
    cmake --preset release >/dev/null
    cmake --build --preset release -j"$JOBS" --target tavrelcut-cli >/dev/null
    echo "$PWD/build-release/cli/tavrelcut-cli"
}

# The desktop program in the same release build; prints the binary's path.
build_release_gui() {
    cmake --preset release >/dev/null
    cmake --build --preset release -j"$JOBS" --target tavrelcut >/dev/null
    echo "$PWD/build-release/app/tavrelcut"
}
