#!/bin/sh
# Nautilus runs the scripts in ~/.local/share/nautilus/scripts with the selected files and folders as
# arguments; installed there under the name of its menu entry, "Mit Quendrix komprimieren".
exec quendrix-compress "$@"
