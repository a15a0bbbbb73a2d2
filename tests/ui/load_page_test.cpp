#include <gtest/gtest.h>

#include <chrono>

#include "fakes/fake_browser.h"
#include "ui/web_window.h"

namespace ui {
namespace {

using Answer = fakes::FakeBrowser::Answer;

TEST(LoadPageTest, OnlyACompletedDocumentCountsAndThePageIsAlwaysClosed) {
  struct Row {
    const char* name;
    Answer answer;
    bool loaded;
  };
  const Row rows[] = {
      {"document complete", Answer::Complete, true},
      {"navigation error", Answer::Error, false},
      {"no answer within the bound", Answer::Never, false},
      {"navigation not started", Answer::Refuse, false},
  };
  for (const Row& row : rows) {
    fakes::FakeBrowser browser;
    browser.answers["https://px.example/p?ac=1"] = row.answer;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(LoadPage(browser, "Quorix", "https://px.example/p?ac=1", std::chrono::milliseconds(200)), row.loaded)
        << row.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << row.name;
    EXPECT_EQ(browser.PagesOpen(), 0) << row.name;
    EXPECT_EQ(browser.Agents(), std::vector<std::string>{"Quorix"}) << row.name;
    EXPECT_EQ(browser.Addresses(), std::vector<std::string>{"https://px.example/p?ac=1"}) << row.name;
  }
}

}  // namespace
}  // namespace ui
