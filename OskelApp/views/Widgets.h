#pragma once

#include <functional>
#include <string>

#include <QString>

class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

// Small building blocks the windows share.
namespace oskel::views {

inline QString qs(const std::string& text) { return QString::fromStdString(text); }

// An interface text in the user's language; the English text is the key.
QString T(const char* english);

// A language's native name with its first letter capitalised ("Español");
// the service's English name when the system knows no native one.
QString languageName(const std::string& code);

// A "Language" picker over the service's languages; `chosen` runs on a user's pick.
QComboBox* languagePicker(QWidget* parent, const QString& objectName, std::function<void(std::string)> chosen);
void selectLanguage(QComboBox* picker, const std::string& code);

QLabel* heading(const QString& text, QWidget* parent, double scale = 1.15);
QLabel* hint(const QString& text, QWidget* parent);
QPushButton* button(const QString& text, QWidget* parent, const QString& objectName, std::function<void()> clicked);

}  // namespace oskel::views
