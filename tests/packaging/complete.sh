#!/usr/bin/env bash
# Prints what bash completion offers for a command line, as pressing Tab at
# its end would: complete.sh COMPLETION_FILE 'qmxctl config set '
# The words are split as bash splits them for completion, '=' on its own.
source /usr/share/bash-completion/bash_completion || exit 1
source "$1" || exit 1
# compopt works only while bash completes; here it does nothing.
compopt() { :; }
COMP_LINE=$2
COMP_POINT=${#COMP_LINE}
COMP_WORDS=()
for word in $COMP_LINE; do
    while [[ $word == *=* ]]; do
        [[ -n ${word%%=*} ]] && COMP_WORDS+=("${word%%=*}")
        COMP_WORDS+=("=")
        word=${word#*=}
    done
    [[ -n $word ]] && COMP_WORDS+=("$word")
done
[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=("")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_qmxctl
printf '%s\n' "${COMPREPLY[@]}"
