// Any bytes as the settings file: the decoder, the key search and the whole reader (start read
// and pass re-read) stay within their input, never fail past their own handlers, and give text
// the rest of the service can take: UTF-8 where the file had a byte-order mark, intervals
// that are positive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "toolbelt/config.h"
#include "toolbelt/config_text.h"
#include "toolbelt/fake_context.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();  // the fuzzer's signal; never reached in the service
}

bool ValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80           ? 1
                     : (c >> 5) == 0x6  ? 2
                     : (c >> 4) == 0xE  ? 3
                     : (c >> 3) == 0x1E ? 4
                                        : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const tw::tConfigText text = tw::DecodeConfigBytes(bytes);
  if (text.Encoding == tw::ConfigEncoding::kUtf16Le ||
      text.Encoding == tw::ConfigEncoding::kUtf16Be) {
    Check(ValidUtf8(text.Text));
    Check(text.Text.size() <= (size - 2) / 2 * 3);  // 2 bytes give at most 3, 4 at most 4
  } else {
    Check(text.Text.size() <= size);
  }
  for (const char* key : {"UPSHost", "TempSleep", "SMTPPassword", "", "<", "&amp;"}) {
    std::string value = "unchanged";
    if (tw::FindConfigValue(text.Text, key, &value)) {
      Check(value.size() <= text.Text.size());
    } else {
      Check(value == "unchanged");
    }
  }
  Check(tw::DecodeXmlEntities(text.Text).size() <= text.Text.size());

  tw::FakeEnv env;
  env.files.Put("/opt/tempwarden/TEMPWARDEN.XML", std::string(bytes));
  tw::tConfigReadSite start_site, pass_site;
  tw::tServiceConfig config = tw::ReadStartConfig(env.ctx, start_site);
  int32_t trace = 1100;
  tw::ReReadPassConfig(env.ctx, pass_site, config, trace);
  Check(config.TempSleep > 0 && config.VoltageSleep > 0);
  Check(config.SMTPPort >= 1 && config.SMTPPort <= 65535);
  return 0;
}
