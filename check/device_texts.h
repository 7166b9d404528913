// The device's texts (res/texts.h) as the tools read them: each with where it stands and
// its meaning, in the table's order.
#ifndef KURVIX_TOOLS_DEVICE_TEXTS_H
#define KURVIX_TOOLS_DEVICE_TEXTS_H

#include <string>
#include <vector>

#include "res/texts.h"

struct DeviceText {
  const char* name;  // the constant's name in the device code
  std::string where;
  std::u16string german;
  const char* meaning;

  bool isCaption() const { return where == "box caption" || where == "question caption"; }
  bool isBoxText() const { return where == "box text"; }
};

inline const std::vector<DeviceText>& deviceTexts() {
#define KURVIX_TEXT_ROW(name, where, german, meaning) {#name, where, german, meaning},
  static const std::vector<DeviceText> kTexts = {KURVIX_DEVICE_TEXTS(KURVIX_TEXT_ROW)};
#undef KURVIX_TEXT_ROW
  return kTexts;
}

#endif
