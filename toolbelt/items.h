// The bracketed items that log, mail and debug texts are made of: "[" key "=" value "]", one
// after the other on one line, in the order they are added.
#ifndef TEMPWARDEN_TOOLBELT_ITEMS_H_
#define TEMPWARDEN_TOOLBELT_ITEMS_H_

#include <string>
#include <type_traits>

namespace tw {

class Items {
 public:
  Items& Add(const std::string& key, const std::string& value) {
    text_ += '[';
    text_ += key;
    text_ += '=';
    text_ += value;
    text_ += ']';
    return *this;
  }
  Items& Add(const std::string& key, const char* value) { return Add(key, std::string(value)); }
  // Whole numbers in plain decimal; other numbers go in as the caller formats them (the
  // general number form follows the regional settings).
  template <typename Int,
            typename = std::enable_if_t<std::is_integral_v<Int> && !std::is_same_v<Int, bool>>>
  Items& Add(const std::string& key, Int value) {
    return Add(key, std::to_string(value));
  }
  // Items composed elsewhere, or an item without "=" such as "[Notes]".
  Items& Append(const std::string& items) {
    text_ += items;
    return *this;
  }

  const std::string& str() const { return text_; }

 private:
  std::string text_;
};

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_ITEMS_H_
