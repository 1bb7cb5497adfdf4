#!/bin/sh
# Strips the installed programs as Debian's own package tools do: besides the symbols, the compilers'
# .comment and the bare .note section, which nothing at run time reads. tools/package.sh hands this
# to CMake as its strip program.
exec strip --remove-section=.comment --remove-section=.note "$@"
