#!/bin/sh
# in_lab.sh NAME OUTSIDE PROGRAM [ARGS...]: runs PROGRAM only when this process sits in the lab's
# own network namespace NAME, never in OUTSIDE (device:inode of the namespace the test itself runs
# in, the machine's). Meant to be started by `ip netns exec NAME`. Exit 97 and no PROGRAM when
# anything is off.
refuse() {
  echo "in_lab: refusing to run: $*" >&2
  exit 97
}
name=$1
outside=$2
shift 2
case "$name" in
  veltr-lab-*) ;;
  *) refuse "\"$name\" is not a lab namespace" ;;
esac
[ -e "/run/netns/$name" ] || refuse "no namespace $name"
here=$(stat -L -c %d:%i /proc/self/ns/net) || refuse "cannot read this namespace"
lab=$(stat -L -c %d:%i "/run/netns/$name") || refuse "cannot read $name"
[ -n "$outside" ] || refuse "no namespace to stay out of"
[ "$here" = "$lab" ] || refuse "not inside $name"
[ "$here" != "$outside" ] || refuse "$name is the namespace the test runs in"
# Only the loopback and the lab's veth ends may be here: nothing that leads off the machine.
for link in $(ip -o link show | awk -F': ' '{ sub(/@.*/, "", $2); print $2 }'); do
  case "$link" in
    lo | vlab*) ;;
    *) refuse "interface $link in $name" ;;
  esac
done
exec "$@"
