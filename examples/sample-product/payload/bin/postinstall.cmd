#!/bin/sh
# Registers the installed copy: writes a marker beside the program.
# Arguments: --register <installation folder>
# Runs in its own folder (bin), after the installation has copied the product's files.
if [ "$1" != "--register" ]; then
  echo "postinstall: unknown command $1" >&2
  exit 2
fi
if [ ! -f TolmeraDesign.exe ] || [ ! -f settings.ini ]; then
  echo "postinstall: the program's files are not installed beside postinstall.cmd" >&2
  exit 3
fi
echo "registered $2" > registered.txt
echo "registered $2"
exit 0
