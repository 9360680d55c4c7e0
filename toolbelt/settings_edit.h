// Writing chosen settings into TEMPWARDEN.XML from outside the service: the "/set" switch, run
// by an administrator or by the Windows installer with the values of its properties.
//
// The file stays the administrator's: only the value between a key's first "<Key>" and the
// first "</Key>" after it (what the service reads, toolbelt/config_text.h) changes, and a key
// the file lacks gets a line of its own before "</XML>". Every other byte stays as it was.
#ifndef TEMPWARDEN_TOOLBELT_SETTINGS_EDIT_H_
#define TEMPWARDEN_TOOLBELT_SETTINGS_EDIT_H_

#include <string>
#include <utility>
#include <vector>

#include "toolbelt/settings.h"

namespace tw {

// One "KEY=VALUE" of the command line; the key is matched as the service matches it (exactly,
// letter case included).
struct tSettingAssignment {
  std::string Key;
  std::string Value;
};

// Splits "KEY=VALUE" at its first "="; false when there is none or the key is empty.
bool ParseSettingAssignment(const std::string& text, tSettingAssignment* out);

// `text` (a whole settings file, 8-bit or UTF-8) with `value` as the value of `key`, written
// with "&", "<" and ">" as entities so that the service reads back exactly `value`. False (and
// `text` untouched) when "<key>" is there without a "</key>" after it: no place to put it.
bool SetConfigValue(std::string* text, const std::string& key, const std::string& value);

// Writes the values into the settings file this run reads (SettingsFilePath, in the data
// directory, which becomes the working directory), made with its default contents first when
// it is missing. All or nothing: every value is checked as the service would read it
// (CheckSettingValue), and one that is not usable, holds a line break, or a file that cannot
// be read or is saved as UTF-16, leaves the file as it was. Returns "" on success, else the
// message for the person or installer that asked. The file is replaced whole
// (WriteStringToFile), so the running service never reads half of it.
std::string WriteSettings(Context& ctx, const std::vector<tSettingAssignment>& values);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_SETTINGS_EDIT_H_
