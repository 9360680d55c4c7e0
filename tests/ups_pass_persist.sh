#!/bin/sh
# snmpd pass_persist handler: the UPS card's temperature and input voltage as Gauge32, read
# from the files "temperature" and "voltage" beside this script at every query; a file
# "temperature.type" (e.g. "string") changes the type of the temperature value, a file
# "voltage.type" that of the voltage. A temperature
# file of several lines is a queue: each query answers the first line and drops it, except the
# last line, which stays. Any other object is answered from the file "objects/OID" (OID
# without its leading dot) when there is one: its first line the type, its second the value.
dir=$(dirname "$0")
while read -r cmd; do
  case "$cmd" in
    PING) echo PONG ;;
    get)
      read -r oid
      case "$oid" in
        .1.3.6.1.4.1.318.1.1.1.2.2.2.0)
          echo "$oid"; cat "$dir/temperature.type" 2>/dev/null || echo gauge
          head -n 1 "$dir/temperature"
          [ "$(wc -l <"$dir/temperature")" -le 1 ] || sed -i 1d "$dir/temperature" ;;
        .1.3.6.1.4.1.318.1.1.1.3.2.1.0)
          echo "$oid"; cat "$dir/voltage.type" 2>/dev/null || echo gauge; cat "$dir/voltage" ;;
        *)
          if [ -f "$dir/objects/${oid#.}" ]; then
            echo "$oid"; head -n 2 "$dir/objects/${oid#.}"
          else
            echo NONE
          fi ;;
      esac ;;
    getnext) read -r oid; echo NONE ;;
    set) read -r oid; read -r value; echo not-writable ;;
    *) exit 0 ;;
  esac
done
