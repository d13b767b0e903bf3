#!/bin/sh
# Event script (-sf) for ISC dhclient in the DHCP client test, in place of
# dhclient-script: it prints what the client got and configures nothing (no
# address, no route, no resolv.conf). Once a lease is bound it ends the
# dhclient that ran it (its parent), which would otherwise stay to renew.
case "$reason" in
  BOUND|RENEW|REBIND|REBOOT)
    echo "LEASE $new_ip_address $new_subnet_mask server ${new_dhcp_server_identifier:-none} lease ${new_dhcp_lease_time:-none}"
    kill -TERM "$PPID" ;;
  FAIL|TIMEOUT|EXPIRE|NAK) echo "EVENT $reason" ;;
esac
exit 0
