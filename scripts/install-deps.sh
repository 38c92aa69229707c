#!/usr/bin/env bash
# Installs what building and testing qVORK on Linux needs, skipping whatever
# is already there (Debian packages: as root, or through sudo).
# The Windows cross compiler and Wine come from scripts/windows-install.sh.
set -eu

packages=()
have_package() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed$'
}
for package in cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev \
               libncurses-dev clang libclang-rt-14-dev valgrind tmux strace util-linux \
               xxd zip libcli11-dev nlohmann-json3-dev libgumbo-dev zlib1g-dev libbrotli-dev \
               pkg-config jq bc time fuse3 libfuse3-dev mc attr; do
  have_package "$package" || packages+=("$package")
done
# Node.js and npm for the archive export test (it installs warcio with npm);
# a Node.js from elsewhere that brings its own npm is fine too.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

if [ ${#packages[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi
# As root apt-get runs directly (sudo is not on every machine); as another
# user through sudo when there is one.
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: missing ${packages[*]}; run this script as root to install them" >&2
    exit 1
  fi
  as_root=(sudo)
fi
echo "install-deps: installing ${packages[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${packages[@]}" >/dev/null
echo "install-deps: done"
