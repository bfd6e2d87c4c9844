#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QString>

#include "Preferences.h"

namespace oskel {

// The interface language. Translations ship as Qt translation files built
// into the program; every interface text is looked up with its English text
// as the key in the context L10n::context, through L10n::text() (or
// QCoreApplication::translate(L10n::context, "…")). Where a text carries a
// value (a version, a count, a file name) the key holds Qt's "%1" ("%2")
// in its place: L10n::text("Oskel %1 is available").arg(version). The
// sources are OskelApp/l10n/oskel_<language>.ts.
class L10n {
 public:
  static constexpr const char* context = "Oskel";
  static constexpr const char* overrideKey = "interfaceLanguage";
  // Reads an environment variable; empty when unset.
  using Lookup = std::function<std::string(const char* name)>;

  explicit L10n(std::shared_ptr<Preferences> preferences, std::vector<std::string> available = shipped(),
                Lookup environment = {});

  // The interface languages the program carries ("de", "en", "es").
  static std::vector<std::string> shipped();
  const std::vector<std::string>& available() const { return available_; }

  // The user's choice, kept in the settings; none follows the system.
  std::optional<std::string> languageOverride() const;
  void setLanguageOverride(const std::optional<std::string>& language);

  // The first of LANGUAGE (a list), LC_ALL, LC_MESSAGES and LANG that names
  // an available language; "en" when none does.
  std::string systemChoice() const;
  // What the next launch shows: the override, else the system choice.
  std::string chosen() const;
  // What this process shows (set by install(), for the whole process).
  std::string current() const;

  // Loads the chosen translation into the running application; call once,
  // before the model is made (it may change the override for the next
  // launch) and before any window exists. False when none could be loaded
  // (English is shown).
  bool install();

  // Starts this executable again, with the same arguments except "--onboard",
  // once this process has exited, then quits the application.
  static void relaunch();

  static QString text(const char* english);

 private:
  std::shared_ptr<Preferences> preferences_;
  std::vector<std::string> available_;
  Lookup environment_;
};

// The system's language code from the same variables as systemChoice(),
// without matching it against anything; empty when none is set.
std::string systemLanguageCode(const L10n::Lookup& environment);

}  // namespace oskel
