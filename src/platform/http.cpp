#include "platform/http.h"

#include <cstdio>
#include <cstring>

namespace platform {

uint64_t ContentRangeFirstByte(const std::string& value) {
  unsigned long long first = 0, last = 0;
  char unit[8] = "";
  if (std::sscanf(value.c_str(), " %7[a-z] %llu-%llu", unit, &first, &last) != 3) return kUnknownFirstByte;
  if (std::strcmp(unit, "bytes") != 0 || last < first) return kUnknownFirstByte;
  return first;
}

}  // namespace platform
