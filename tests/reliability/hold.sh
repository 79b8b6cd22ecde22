#!/bin/sh
# hold.sh - bound over a platform command inside a test sandbox only.  When
# the test has armed it (/tmp/hold/arm.NAME holds a text that the call's
# arguments must contain), the first matching call writes its process id to
# /tmp/hold/ready.NAME and waits for /tmp/hold/go.  Every call then runs the
# real command, saved beforehand as /tmp/hold/real/NAME, with its arguments.
name=${0##*/}
arm=/tmp/hold/arm.$name
if [ -e "$arm" ]; then
    want=$(cat "$arm")
    case " $* " in
        *"$want"*)
            if mv "$arm" "$arm.taken.$$" 2>/dev/null; then
                echo $$ >"/tmp/hold/ready.$name"
                while [ ! -e /tmp/hold/go ]; do sleep 0.05; done
            fi
            ;;
    esac
fi
exec "/tmp/hold/real/$name" "$@"
