#!/bin/sh
# Event script for busybox udhcpc in the DHCP client test: it prints what
# the client got and configures nothing, so the test's network stays as
# isolated-net made it.
case "$1" in
  bound|renew) echo "LEASE $ip $subnet server ${serverid:-none} lease ${lease:-none}" ;;
  leasefail|nak) echo "EVENT $1" ;;
esac
exit 0
