#!/usr/bin/python3
"""The UPS's two PowerNet objects served by pysnmp's command responder (Debian's
python3-pysnmp4), for tests/python_agents_test.sh.

usage: pysnmp_agent.py PORT TYPE VALUE
  TYPE: Gauge32, Integer32, OctetString (the temperature as that type) or missing (no
  temperature object at all). The input voltage is always Gauge32 230.
Listens on 127.0.0.1:PORT for community "public" (v1, v2c) and the version 3 users below;
prints "listening" once ready. Runs until stopped.
"""
import sys

from pysnmp.carrier.asyncore.dgram import udp
from pysnmp.entity import config, engine
from pysnmp.entity.rfc3413 import cmdrsp, context
from pysnmp.proto.api import v2c

TEMPERATURE = (1, 3, 6, 1, 4, 1, 318, 1, 1, 1, 2, 2, 2)
VOLTAGE = (1, 3, 6, 1, 4, 1, 318, 1, 1, 1, 3, 2, 1)
# user, auth protocol, auth password, priv protocol, priv password
USERS = [
    ("shaaes", config.usmHMACSHAAuthProtocol, "shaaes-auth-pass",
     config.usmAesCfb128Protocol, "shaaes-priv-pass"),
    ("sha256aes256", config.usmHMAC192SHA256AuthProtocol, "sha256aes256-auth",
     config.usmAesBlumenthalCfb256Protocol, "sha256aes256-priv"),
    ("sha512", config.usmHMAC384SHA512AuthProtocol, "sha512-auth-pass",
     config.usmNoPrivProtocol, None),
    ("md5des", config.usmHMACMD5AuthProtocol, "md5des-auth-pass",
     config.usmDESPrivProtocol, "md5des-priv-pass"),
]


def main():
    port, kind, value = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    snmp_engine = engine.SnmpEngine()
    config.addTransport(snmp_engine, udp.domainName,
                        udp.UdpTransport().openServerMode(("127.0.0.1", port)))
    config.addV1System(snmp_engine, "area", "public")
    for model in (1, 2):
        config.addVacmUser(snmp_engine, model, "area", "noAuthNoPriv", (1, 3, 6))
    for user, auth, auth_key, priv, priv_key in USERS:
        if priv_key is None:
            config.addV3User(snmp_engine, user, auth, auth_key)
            level = "authNoPriv"
        else:
            config.addV3User(snmp_engine, user, auth, auth_key, priv, priv_key)
            level = "authPriv"
        config.addVacmUser(snmp_engine, 3, user, level, (1, 3, 6))

    snmp_context = context.SnmpContext(snmp_engine)
    builder = snmp_context.getMibInstrum().getMibBuilder()
    MibScalar, MibScalarInstance = builder.importSymbols("SNMPv2-SMI", "MibScalar",
                                                         "MibScalarInstance")
    objects = [MibScalar(VOLTAGE, v2c.Gauge32()),
               MibScalarInstance(VOLTAGE, (0,), v2c.Gauge32(230))]
    if kind != "missing":
        syntax = {"Gauge32": v2c.Gauge32, "Integer32": v2c.Integer32,
                  "OctetString": v2c.OctetString}[kind]
        typed = syntax(value) if kind == "OctetString" else syntax(int(value))
        objects += [MibScalar(TEMPERATURE, syntax()),
                    MibScalarInstance(TEMPERATURE, (0,), typed)]
    builder.exportSymbols("__TEMPWARDEN_TEST_MIB", *objects)
    cmdrsp.GetCommandResponder(snmp_engine, snmp_context)

    print("listening", flush=True)
    snmp_engine.transportDispatcher.jobStarted(1)
    try:
        snmp_engine.transportDispatcher.runDispatcher()
    finally:
        snmp_engine.transportDispatcher.closeDispatcher()


if __name__ == "__main__":
    main()
