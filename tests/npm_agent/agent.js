// The npm net-snmp package in agent mode: a foreign SNMP stack for the system tests. Serves the
// two PowerNet objects on 127.0.0.1 at the port given, with a community, and version 3 users.
//
//   node agent.js PORT TEMPERATURE_TYPE TEMPERATURE_VALUE
//     TEMPERATURE_TYPE: Integer, Gauge32, OctetString, or "missing" (no such object)
// Users: "shaaes" (SHA / AES), "sha512" (SHA-512, no privacy), "md5des" (MD5 / DES);
// passwords are the user name followed by "-auth-pass" and "-priv-pass".
"use strict";
const snmp = require("net-snmp");

const [port, tempType, tempValue] = process.argv.slice(2);
const agent = snmp.createAgent({port: Number(port), address: "127.0.0.1",
                                engineID: "8000B98380112233445566778899aabb"},
                               (error) => { if (error) console.error(error); });
const authorizer = agent.getAuthorizer();
authorizer.addCommunity("public");
const users = [
  ["shaaes", snmp.SecurityLevel.authPriv, snmp.AuthProtocols.sha, snmp.PrivProtocols.aes],
  ["sha512", snmp.SecurityLevel.authNoPriv, snmp.AuthProtocols.sha512, snmp.PrivProtocols.none],
  ["md5des", snmp.SecurityLevel.authPriv, snmp.AuthProtocols.md5, snmp.PrivProtocols.des],
];
for (const [name, level, auth, priv] of users) {
  authorizer.addUser({name, level, authProtocol: auth, authKey: name + "-auth-pass",
                      privProtocol: priv, privKey: name + "-priv-pass"});
}
const mib = agent.getMib();
const scalar = (name, oid, type) => mib.registerProvider({
  name, type: snmp.MibProviderType.Scalar, oid, scalarType: type,
  maxAccess: snmp.MaxAccess["read-only"], handler: (request) => request.done()});
if (tempType !== "missing") {
  scalar("upsAdvBatteryTemperature", "1.3.6.1.4.1.318.1.1.1.2.2.2", snmp.ObjectType[tempType]);
  mib.setScalarValue("upsAdvBatteryTemperature",
                     tempType === "OctetString" ? tempValue : Number(tempValue));
}
scalar("upsAdvInputLineVoltage", "1.3.6.1.4.1.318.1.1.1.3.2.1", snmp.ObjectType.Gauge32);
mib.setScalarValue("upsAdvInputLineVoltage", 230);
console.log("listening");
