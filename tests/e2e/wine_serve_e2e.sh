#!/bin/sh
# capmeter-cli.exe serve --simulate under Wine, driven from Linux by PyVISA
# (tests/scpi/scpi_e2e.py), in the Wine prefix the caller set up.
#
# Usage: wine_serve_e2e.sh WINE CAPMETER_CLI_EXE
set -eu
here=$(dirname "$0")
echo "\$ capmeter-cli.exe serve --simulate --listen 127.0.0.1:0    # driven by PyVISA"
# The Python that has PyVISA: Debian's, where another comes first on PATH.
for python in python3 /usr/bin/python3; do
  if "$python" -c "import pyvisa, pyvisa_py" 2>/dev/null; then
    exec "$python" "$here/../scpi/scpi_e2e.py" "$2" wine_session "$1"
  fi
done
echo "no Python with PyVISA and pyvisa-py (Debian: python3-pyvisa python3-pyvisa-py)" >&2
exit 1
