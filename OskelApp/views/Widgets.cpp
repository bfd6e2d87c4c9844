#include "Widgets.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include <map>

#include "service/TranslationOptions.h"

namespace oskel::views {

QString T(const char* english) { return QCoreApplication::translate("Oskel", english); }

QString languageName(const std::string& code) {
  // Qt names a language after its main country ("American English"); the
  // service's languages get their plain native names.
  static const std::map<std::string, const char*> native{
      {"de", "Deutsch"},  {"en", "English"},   {"es", "Español"},      {"fr", "Français"},
      {"hi", "हिन्दी"},      {"id", "Bahasa Indonesia"}, {"it", "Italiano"}, {"ja", "日本語"},
      {"ko", "한국어"},   {"pt", "Português"}, {"ru", "Русский"},      {"vi", "Tiếng Việt"},
      {"zh", "中文"}};
  if (const auto found = native.find(code); found != native.end()) return QString::fromUtf8(found->second);
  const QLocale locale(qs(code));
  QString name = locale.language() == QLocale::C ? QString() : locale.nativeLanguageName();
  if (name.isEmpty()) {
    const auto& table = TranslationOptions::supportedOutputLanguages();
    const auto found = table.find(code);
    name = found != table.end() ? qs(found->second) : qs(code);
  }
  if (!name.isEmpty()) name[0] = name[0].toUpper();
  return name;
}

QComboBox* languagePicker(QWidget* parent, const QString& objectName, std::function<void(std::string)> chosen) {
  auto* picker = new QComboBox(parent);
  picker->setObjectName(objectName);
  picker->setAccessibleName(T("Language"));
  picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  picker->setMinimumContentsLength(6);
  for (const auto& [code, english] : TranslationOptions::supportedOutputLanguages())
    picker->addItem(languageName(code), qs(code));
  QObject::connect(picker, &QComboBox::activated, picker, [picker, chosen = std::move(chosen)](int index) {
    chosen(picker->itemData(index).toString().toStdString());
  });
  return picker;
}

void selectLanguage(QComboBox* picker, const std::string& code) {
  const int index = picker->findData(qs(code));
  if (index < 0) picker->addItem(languageName(code), qs(code));
  picker->setCurrentIndex(index < 0 ? picker->count() - 1 : index);
}

QLabel* heading(const QString& text, QWidget* parent, double scale) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * scale);
  label->setFont(font);
  return label;
}

QLabel* hint(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setForegroundRole(QPalette::PlaceholderText);
  return label;
}

QPushButton* button(const QString& text, QWidget* parent, const QString& objectName, std::function<void()> clicked) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(objectName);
  QObject::connect(b, &QPushButton::clicked, b, [clicked = std::move(clicked)] {
    if (clicked) clicked();
  });
  return b;
}

}  // namespace oskel::views
