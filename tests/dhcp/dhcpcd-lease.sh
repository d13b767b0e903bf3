#!/bin/sh
# Event script (-c) for dhcpcd in the DHCP client test, in place of
# dhcpcd-run-hooks: it prints what the client got and runs no hook, so
# resolv.conf, the host name and the like stay untouched. dhcpcd itself
# sets the address on the modules namespace's interface only.
case "$reason" in
  BOUND|RENEW|REBIND|REBOOT)
    echo "LEASE $new_ip_address $new_subnet_mask server ${new_dhcp_server_identifier:-none} lease ${new_dhcp_lease_time:-none}" ;;
  FAIL|TIMEOUT|EXPIRE|NAK) echo "EVENT $reason" ;;
esac
exit 0
