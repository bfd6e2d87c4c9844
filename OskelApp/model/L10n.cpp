#include "L10n.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <QTranslator>

#include "Settings.h"
#include "log/Log.h"

namespace oskel {

namespace {

constexpr const char* translationsFolder = ":/i18n";

// The interface language of this process.
std::string& shownLanguage() {
  static std::string language = "en";
  return language;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t begin = 0;
  while (begin <= text.size()) {
    const auto end = std::min(text.find(separator, begin), text.size());
    if (end > begin) parts.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

std::string fromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The language codes the user asks for, most wanted first: LANGUAGE's list,
// then the messages locale (the first set of LC_ALL, LC_MESSAGES, LANG). A
// "C" locale wants the untranslated texts, whatever LANGUAGE says.
std::vector<std::string> wantedLanguages(const L10n::Lookup& environment) {
  const auto lookup = environment ? environment : L10n::Lookup(fromEnvironment);
  std::string locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
    if (locale = lookup(name); !locale.empty()) break;
  if (!locale.empty() && languageCodeOfLocale(locale).empty()) return {};
  std::vector<std::string> wanted;
  for (const auto& entry : split(lookup("LANGUAGE"), ':'))
    if (auto code = languageCodeOfLocale(entry); !code.empty()) wanted.push_back(std::move(code));
  if (auto code = languageCodeOfLocale(locale); !code.empty()) wanted.push_back(std::move(code));
  return wanted;
}

}  // namespace

L10n::L10n(std::shared_ptr<Preferences> preferences, std::vector<std::string> available, Lookup environment)
    : preferences_(std::move(preferences)), available_(std::move(available)), environment_(std::move(environment)) {}

std::vector<std::string> L10n::shipped() {
  std::vector<std::string> languages;
  for (const auto& file : QDir(translationsFolder).entryList({"oskel_*.qm"}, QDir::Files, QDir::Name)) {
    const auto name = file.toStdString();
    languages.push_back(name.substr(6, name.size() - 6 - 3));
  }
  if (std::ranges::find(languages, "en") == languages.end()) languages.insert(languages.begin(), "en");
  return languages;
}

std::optional<std::string> L10n::languageOverride() const {
  if (!preferences_) return std::nullopt;
  auto stored = preferences_->value(overrideKey);
  if (!stored || stored->empty()) return std::nullopt;
  return stored;
}

void L10n::setLanguageOverride(const std::optional<std::string>& language) {
  if (!preferences_ || language == languageOverride()) return;
  if (language)
    preferences_->setValue(overrideKey, *language);
  else
    preferences_->remove(overrideKey);
}

std::string L10n::systemChoice() const {
  for (const auto& code : wantedLanguages(environment_))
    if (std::ranges::find(available_, code) != available_.end()) return code;
  return "en";
}

std::string L10n::current() const { return shownLanguage(); }

std::string L10n::chosen() const { return languageOverride().value_or(systemChoice()); }

bool L10n::install() {
  const auto language = chosen();
  shownLanguage() = "en";
  if (language == "en") return true;
  auto* app = QCoreApplication::instance();
  auto translator = std::make_unique<QTranslator>(app);
  if (!app || !translator->load(QString::fromStdString("oskel_" + language), translationsFolder)) {
    Log::warn([&] { return "interface: no translation for " + language + ", showing English"; });
    return false;
  }
  QCoreApplication::installTranslator(translator.release());
  shownLanguage() = language;
  return true;
}

void L10n::relaunch() {
  // Everything the waiting child needs is prepared before forking: between
  // fork and exec it may only make async-signal-safe calls.
  const std::string program = QCoreApplication::applicationFilePath().toStdString();
  std::vector<std::string> arguments{program};
  const auto given = QCoreApplication::arguments();
  for (qsizetype i = 1; i < given.size(); ++i)
    if (given[i] != QLatin1String("--onboard")) arguments.push_back(given[i].toStdString());
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) {
    setsid();
    // Re-parented once this process has exited.
    while (getppid() == parent) {
      const timespec pause{0, 100'000'000};
      nanosleep(&pause, nullptr);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (child < 0) Log::warn([] { return std::string("interface: could not relaunch for the new language"); });
  QCoreApplication::quit();
}

QString L10n::text(const char* english) { return QCoreApplication::translate(context, english); }

std::string systemLanguageCode(const L10n::Lookup& environment) {
  const auto wanted = wantedLanguages(environment);
  return wanted.empty() ? std::string() : wanted.front();
}

}  // namespace oskel
