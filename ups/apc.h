// The UPS snapshot the monitoring cycle keeps, and the chart page request.
#ifndef TEMPWARDEN_UPS_APC_H_
#define TEMPWARDEN_UPS_APC_H_

#include <cstdint>
#include <string>

#include "platform/calendar.h"

namespace tw {

// The monitored UPS. Before any reading every number and date-time is 0 and every text empty.
struct tUPSAttributes {
  int32_t PollPeriod = 0;  // sent by the phone-home report; never set
  std::string HostName;    // "UPSHost"
  std::string Community;   // "SNMPCommunity"
  // Descriptive facts shown in messages; nothing fills them.
  std::string UPSName;
  std::string UPSModel;
  std::string UPSDate;
  std::string UPSTime;
  std::string UPSContact;
  std::string UPSLocation;
  std::string UPSUPTime;
  std::string UPSUser;
  double InputVoltage = 0;  // volts; exactly 0 means on battery
  double InternalTemp = 0;  // degrees Celsius
  std::string UPSState;     // "OnLine" or "On_Battery"
  double MaxTemp = 0;
  TDateTime MaxTempTimeStamp = 0;
  double MinTemp = 0;
  TDateTime MinTempTimeStamp = 0;
};

// A chart page request.
struct tGoogleChart {
  std::string Title;
  std::string HAxisTitle;
  std::string VAxisTitle;
  double Period = 0;
  TDateTime EndPeriod = 0;
  int32_t Refresh = 0;
};

}  // namespace tw

#endif  // TEMPWARDEN_UPS_APC_H_
