// A stand-in for the installer in the stamping tool's tests: a program that
// carries the stamped parameter block the same way and prints the ten
// values it reads from it, one per line, in slot order.
#include <cstdio>

#include "app/stamped_parameters.h"

int main() {
  for (size_t i = 0; i < app::kStampedSlotCount; ++i) {
    const std::string value = app::ReadStampedValue(static_cast<app::StampedSlot>(i));
    std::printf("%s\n", value.c_str());
  }
  return 0;
}
