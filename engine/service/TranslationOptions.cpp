#include "service/TranslationOptions.h"

namespace oskel {

const std::map<std::string, std::string>& TranslationOptions::supportedOutputLanguages() {
  static const std::map<std::string, std::string> languages{
      {"en", "English"}, {"es", "Spanish"}, {"pt", "Portuguese"}, {"fr", "French"},     {"de", "German"},
      {"it", "Italian"}, {"ja", "Japanese"}, {"ko", "Korean"},    {"zh", "Chinese"},    {"ru", "Russian"},
      {"hi", "Hindi"},   {"id", "Indonesian"}, {"vi", "Vietnamese"},
  };
  return languages;
}

}  // namespace oskel
