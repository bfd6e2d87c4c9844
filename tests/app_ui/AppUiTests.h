#pragma once

#include <vector>

class QObject;

namespace oskel::test {

QObject* startupSuite();
QObject* windowsSuite();
inline std::vector<QObject*> appUiSuites() { return {startupSuite(), windowsSuite()}; }

}  // namespace oskel::test
