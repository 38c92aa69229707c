#!/usr/bin/env bash
# Installs the npm package warcio (the web archivists' own WARC reader, a
# fixed version) into DIR/node_modules for the archive export test. Does
# nothing when that version is already there, so a machine without network
# runs the test once it has been installed.
#
#   install_warcio.sh DIR
set -eu -o pipefail

dir=$1
version=2.4.11
installed=$dir/node_modules/warcio/package.json
if [ -f "$installed" ] && grep -q "\"version\": \"$version\"" "$installed"; then
    exit 0
fi
command -v npm >/dev/null || { echo "install_warcio.sh: npm is missing (Node.js)" >&2; exit 1; }
mkdir -p "$dir"
# One install at a time in this folder, when several tests start together.
exec 9>"$dir/.install.lock"
flock 9
if [ -f "$installed" ] && grep -q "\"version\": \"$version\"" "$installed"; then
    exit 0
fi
npm install --prefix "$dir" --no-audit --no-fund --no-save --loglevel=error "warcio@$version" >&2 ||
    { echo "install_warcio.sh: could not install warcio $version (offline?)" >&2; exit 1; }
