#include "model/job/HxCallback.h"

#include "config/HxConfigFile.h"
#include "expr/HxExpression.h"

namespace {

// Words of the language codes 1 to 9.
constexpr char const* kLanguages[] = {"perl",    "python", "tcl",        "tarv",          "unknown",
                                      "post",    "mail",   "dependency", "auto_wrangling"};
constexpr int kLanguageCount = sizeof(kLanguages) / sizeof(kLanguages[0]);

}  // namespace

HxString HxCallback::languagestring() const {
  return HxString(language_ >= 1 && language_ <= kLanguageCount ? kLanguages[language_ - 1] : "unknown");
}

void HxCallback::languagestring(HxString const& word) {
  language_ = kUnknown;
  for (int code = 1; code <= kLanguageCount; ++code) {
    if (word == HxString(kLanguages[code - 1])) {
      language_ = code;
      return;
    }
  }
}

void HxCallback::triggers(HxEventList& events) const {
  HxStringList tokens;
  HxExpression::callbacktokenize(triggers_, tokens);
  HxStringHash names;
  for (int i = 0; i < tokens.length(); ++i) {
    HxString const& token = *tokens.get(i);
    if (HxEvent::isvalid(token)) names.set(new HxString(), token);
  }
  HxStringList keys;
  names.keys(keys);
  for (int i = 0; i < keys.length(); ++i) {
    auto* event = new HxEvent();
    event->fullname(*keys.get(i));
    events.append(event);
  }
  keys.forget();  // the keys belong to the hash
}

void HxCallback::ready(HxStringHash& table) const {
  int const length = ready_.length();
  char const* text = ready_.value();
  int at = 0;
  while (at < length) {
    int blank = at;
    while (blank < length && text[blank] != ' ') ++blank;
    // A word without a blank and a value after it is no pair.
    if (blank + 1 >= length) return;
    table.set(new HxString(text + blank + 1, 1), HxString(text + at, blank - at));
    at = blank + 3;
  }
}

void HxCallbackList::load(HxString const& path) {
  HxConfigFile file(path, 0);
  HxStringList names;
  file.keys(names);
  for (int i = 0; i < names.length(); ++i) {
    HxString const& name = *names.get(i);
    HxConfig const* section = file.config(name);
    if (section == nullptr) continue;
    HxString const& language = section->option("language");
    HxString const& code = section->option("code");
    if (language.length() == 0 || code.length() == 0) continue;
    auto* callback = new HxCallback();
    callback->triggers(name);
    callback->code(code);
    callback->languagestring(language);
    HxString const& maximum = section->option("max");
    if (maximum.length() != 0) callback->maximum(maximum.integervalue());
    append(callback);
  }
}
