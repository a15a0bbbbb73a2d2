#include "app/stamped_parameters.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "build_config.h"

namespace app {
namespace {

struct SlotCase {
  StampedSlot slot;
  const char* key;
  size_t offset;
  size_t capacity;
  size_t padding;  // zero bytes after the slot's final zero
  std::string defaultValue;
};

std::ostream& operator<<(std::ostream& out, const SlotCase& c) {
  return out << "slot " << static_cast<int>(c.slot) << " \"" << c.key << "\" offset " << c.offset << " capacity "
             << c.capacity;
}

const std::vector<SlotCase>& Slots() {
  static const std::vector<SlotCase> slots = {
      {StampedSlot::Param1, "PARAM1: ", 0, 100, 3, std::string(100, '@')},
      {StampedSlot::AffiliateSub, "AFFSD: ", 112, 40, 0, "tessmark"},
      {StampedSlot::Affiliate, "AFFILIATE: ", 160, 100, 0, "orbelta"},
      {StampedSlot::EName, "ENAME: ", 272, 20, 0, "Quorix"},
      {StampedSlot::AName, "ANAME: ", 300, 20, 0, "Quorix"},
      {StampedSlot::Serial, "SERIAL: ", 328, 40, 7, "K7TQ2M9XRB4HZ0WLC8NVJ5PDAE3GY61FSUQ0ZK2M"},
      {StampedSlot::WebDomain, "WEBDOMAIN: ", 384, 100, 0, std::string(100, '^')},
      {StampedSlot::HelpUrl, "HELPURL: ", 496, 100, 2, build_config::kHelpUrl},
      {StampedSlot::Domain, "DOMAIN: ", 608, 100, 3, build_config::kSecureHost},
      {StampedSlot::AppId, "APPID: ", 720, 5, 0, ":::::"},
  };
  return slots;
}

TEST(StampedParametersTest, LayoutOfEverySlot) {
  ASSERT_EQ(Slots().size(), kStampedSlotCount);
  size_t next = 0;
  for (const SlotCase& c : Slots()) {
    SCOPED_TRACE(testing::PrintToString(c));
    const StampedSlotLayout& layout = SlotLayout(c.slot);
    EXPECT_STREQ(layout.key, c.key);
    EXPECT_EQ(layout.offset, c.offset);
    EXPECT_EQ(layout.capacity, c.capacity);
    // Slots follow each other: key, value area, final zero, padding.
    EXPECT_EQ(layout.offset, next);
    next = c.offset + std::strlen(c.key) + c.capacity + 1 + c.padding;
  }
  EXPECT_EQ(next, kStampedBlockSize);
}

TEST(StampedParametersTest, UnstampedProgramReadsTheDefaults) {
  for (const SlotCase& c : Slots()) {
    SCOPED_TRACE(testing::PrintToString(c));
    EXPECT_EQ(ReadStampedValue(c.slot), c.defaultValue);
  }
}

struct AreaCase {
  const char* name;
  std::string area;  // written at the start of every value area
  char filler;       // the rest of every value area
  bool finalZeros;   // the final zero bytes are in place
  std::string (*expected)(size_t capacity);
};

std::ostream& operator<<(std::ostream& out, const AreaCase& c) { return out << c.name; }

TEST(StampedParametersTest, ValueReadFromABlockInMemory) {
  const std::vector<AreaCase> rows = {
      {"FillsTheCapacity", "", 'v', true, [](size_t cap) { return std::string(cap, 'v'); }},
      // Spaces before the first zero byte belong to the value.
      {"SpacesWithoutZero", "ab", ' ', true, [](size_t cap) { return "ab" + std::string(cap - 2, ' '); }},
      {"EndsAtItsZero", std::string("x y\0", 4), ' ', true, [](size_t) { return std::string("x y"); }},
      // A damaged block without the final zeros is still read no further.
      {"NoFinalZero", "", '#', false, [](size_t cap) { return std::string(cap, '#'); }},
  };
  for (const AreaCase& row : rows) {
    std::array<unsigned char, kStampedBlockSize> block{};
    if (!row.finalZeros) block.fill('#');
    for (const SlotCase& c : Slots()) {
      unsigned char* area = block.data() + c.offset + std::strlen(c.key);
      std::memcpy(block.data() + c.offset, c.key, std::strlen(c.key));
      std::memset(area, row.filler, c.capacity);
      std::memcpy(area, row.area.data(), row.area.size());
    }
    for (const SlotCase& c : Slots()) {
      SCOPED_TRACE(testing::PrintToString(row) + " " + testing::PrintToString(c));
      EXPECT_EQ(ReadStampedValueFrom(block.data(), c.slot), row.expected(c.capacity));
    }
  }
}

}  // namespace
}  // namespace app
