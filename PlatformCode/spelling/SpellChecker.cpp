#include "spelling/SpellChecker.h"

#include <enchant.h>

#include <QLocale>

namespace {

constexpr const char *kFallbackLanguage = "en_US";

struct Speller {
  EnchantBroker *broker = nullptr;
  EnchantDict *dict = nullptr;
  Speller() {
    broker = enchant_broker_init();
    if (!broker)
      return;
    const std::string language = QLocale::system().name().toStdString();
    for (const std::string &tag : {language, std::string(kFallbackLanguage)})
      if (!tag.empty() && enchant_broker_dict_exists(broker, tag.c_str()) == 1) {
        dict = enchant_broker_request_dict(broker, tag.c_str());
        if (dict)
          break;
      }
  }
};

// Opened on first use and never closed: freeing the broker unloads the
// dictionary modules, and with them the thread-local storage of the
// dictionary library, while the process's threads still name it (the leak
// checker run at exit walks it). The process's end frees it all.
Speller &GetSpeller() {
  static Speller *speller = new Speller;
  return *speller;
}

} // namespace

bool SpellCheckerAvailable() { return GetSpeller().dict != nullptr; }

bool IsWordSpeltRight(std::string_view word) {
  EnchantDict *dict = GetSpeller().dict;
  // 0 is a known word; an error counts as known, so nothing is marked.
  return !dict || word.empty() || enchant_dict_check(dict, word.data(), ssize_t(word.size())) <= 0;
}

std::vector<std::string> SpellingSuggestions(std::string_view word) {
  std::vector<std::string> out;
  EnchantDict *dict = GetSpeller().dict;
  if (!dict || word.empty())
    return out;
  size_t count = 0;
  char **list = enchant_dict_suggest(dict, word.data(), ssize_t(word.size()), &count);
  for (size_t i = 0; list && i < count; ++i)
    out.emplace_back(list[i]);
  if (list)
    enchant_dict_free_string_list(dict, list);
  return out;
}

void LearnSpelling(std::string_view word) {
  if (EnchantDict *dict = GetSpeller().dict; dict && !word.empty())
    enchant_dict_add(dict, word.data(), ssize_t(word.size()));
}

void IgnoreSpelling(std::string_view word) {
  if (EnchantDict *dict = GetSpeller().dict; dict && !word.empty())
    enchant_dict_add_to_session(dict, word.data(), ssize_t(word.size()));
}
