#include "toolbelt/settings_edit.h"

#include "toolbelt/config.h"
#include "toolbelt/config_text.h"
#include "toolbelt/files.h"
#include "toolbelt/host_info.h"

namespace tw {
namespace {

// The reader decodes the five entities; quotes need none between tags.
std::string EncodeXmlText(const std::string& value) {
  std::string out;
  for (const char c : value) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

bool ParseSettingAssignment(const std::string& text, tSettingAssignment* out) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return false;
  out->Key = text.substr(0, equals);
  out->Value = text.substr(equals + 1);
  return true;
}

bool SetConfigValue(std::string* text, const std::string& key, const std::string& value) {
  const std::string open = "<" + key + ">";
  const std::string close = "</" + key + ">";
  const std::string encoded = EncodeXmlText(value);
  const size_t at = text->find(open);
  if (at != std::string::npos) {
    const size_t from = at + open.size();
    const size_t to = text->find(close, from);
    if (to == std::string::npos) return false;
    text->replace(from, to - from, encoded);
    return true;
  }
  // A new line in the style of the file's own: its indentation is the default file's, its
  // line end the file's.
  const std::string eol = text->find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::string line = "  " + open + encoded + close + eol;
  const size_t end = text->rfind("</XML>");
  if (end == std::string::npos) {
    if (!text->empty() && text->back() != '\n') *text += eol;
    *text += line;
    return true;
  }
  // Inserted at the start of the line that holds "</XML>".
  const size_t line_start = text->find_last_of('\n', end == 0 ? 0 : end - 1);
  const size_t insert_at = line_start == std::string::npos || end == 0 ? 0 : line_start + 1;
  const bool own_line = text->find_first_not_of(" \t", insert_at) == end;
  if (own_line) {
    text->insert(insert_at, line);
  } else {
    text->insert(end, eol + line);
  }
  return true;
}

std::string WriteSettings(Context& ctx, const std::vector<tSettingAssignment>& values) {
  for (const tSettingAssignment& v : values) {
    if (v.Value.find_first_of("\r\n") != std::string::npos) {
      return v.Key + ": a value is one line; this one holds a line break.";
    }
    const std::string why = CheckSettingValue(ctx, v.Key, v.Value);
    if (!why.empty()) return why;
  }
  const std::string dir = SetPathToEXEPath(ctx);
  if (dir.rfind("Error - ", 0) == 0) return "Cannot use the data folder " + dir.substr(8) + ".";
  const std::string path = SettingsFilePath(ctx);
  const std::string shown = ctx.layout.SettingsFile.empty() ? dir + kConfigFileName : path;
  if (!EnsureConfigFile(ctx)) return "Cannot create " + shown + ".";
  std::string bytes, error;
  bool larger = false;
  if (!ctx.env.files->ReadFileHead(path, kConfigFileMaxBytes, &bytes, &larger, &error)) {
    return "Cannot read " + shown + ": " + error;
  }
  if (larger) return shown + " is larger than the service reads; it stays as it is.";
  const ConfigEncoding encoding = DecodeConfigBytes(bytes).Encoding;
  if (encoding == ConfigEncoding::kUtf16Le || encoding == ConfigEncoding::kUtf16Be) {
    // Rewriting it as UTF-8 would change every byte of it.
    return shown + " is saved as " + ConfigEncodingName(encoding) +
           "; save it as UTF-8 and set the values again.";
  }
  std::string text = bytes;
  for (const tSettingAssignment& v : values) {
    if (!SetConfigValue(&text, v.Key, v.Value)) {
      return shown + " has <" + v.Key + "> without </" + v.Key + ">; it stays as it is.";
    }
  }
  if (text == bytes) return "";
  if (WriteStringToFile(ctx, text, path, false) != kWriteOk) return "Cannot write " + shown + ".";
  return "";
}

}  // namespace tw
