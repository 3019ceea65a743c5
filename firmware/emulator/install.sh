#!/bin/sh
# Installs rp2040js, the emulator the firmware's tests run on, exactly as
# package-lock.json pins it, into node_modules here (npm ci, from npm's
# registry). Does nothing when that lock is already installed.
#   firmware/emulator/install.sh
set -eu
cd "$(dirname "$0")"
if cmp -s package-lock.json node_modules/.installed-lock 2>/dev/null; then
    exit 0
fi
for tool in node npm; do
    command -v "$tool" >/dev/null 2>&1 ||
        { echo "install.sh: $tool is missing; run scripts/install-deps.sh (as root) to install Node.js" >&2; exit 1; }
done
started=$(date +%s)
npm ci --no-audit --no-fund --loglevel=error ||
    { echo "install.sh: npm ci failed (above); check that npm's registry answers" >&2; exit 1; }
cp package-lock.json node_modules/.installed-lock
echo "install.sh: rp2040js $(node -p 'require("./node_modules/rp2040js/package.json").version') installed in $(($(date +%s) - started))s"
