#!/usr/bin/env bash
# The keys of 27-keys under openbox, which focuses each new window: the
# keys reach the focused main window with the pointer off it, and the
# title dialog takes them as soon as it opens.
WITH_WM=1
source "$(dirname "$0")/27-keys.sh"
