#include "platform/network.h"

namespace tw {

NetError MakeNetError(int code) {
  const char* text = "Unknown socket error.";
  switch (code) {
    case 10004:
      text = "Interrupted system call.";
      break;
    case 10013:
      text = "Permission denied.";
      break;
    case 10022:
      text = "Invalid argument.";
      break;
    case 10024:
      text = "Too many open files.";
      break;
    case 10040:
      text = "Message too long.";
      break;
    case 10047:
      text = "Address family not supported by protocol family.";
      break;
    case 10048:
      text = "Address already in use.";
      break;
    case 10049:
      text = "Cannot assign requested address.";
      break;
    case 10050:
      text = "Network is down.";
      break;
    case kWsaNetUnreachable:
      text = "Network is unreachable.";
      break;
    case 10053:
      text = "Software caused connection abort.";
      break;
    case kWsaConnReset:
      text = "Connection reset by peer.";
      break;
    case 10055:
      text = "No buffer space available.";
      break;
    case 10057:
      text = "Socket is not connected.";
      break;
    case kWsaTimedOut:
      text = "Connection timed out.";
      break;
    case kWsaConnRefused:
      text = "Connection refused.";
      break;
    case 10064:
      text = "Host is down.";
      break;
    case 10065:
      text = "No route to host.";
      break;
    case kWsaHostNotFound:
      text = "Host not found.";
      break;
    case kWsaTryAgain:
      text = "Non-authoritative host not found.";
      break;
    case kWsaNoRecovery:
      text = "This is a non-recoverable error.";
      break;
    case kWsaNoData:
      text = "Valid name, no data record of requested type.";
      break;
    default:
      break;
  }
  return NetError{code, "Socket Error # " + std::to_string(code) + "\r\n" + text};
}

}  // namespace tw
