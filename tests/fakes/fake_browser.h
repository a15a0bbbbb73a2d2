// A browser whose pages answer as the test says: each navigation records
// its address and either reports an event at once, refuses to start, or
// never reports.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/browser.h"

namespace fakes {

class FakeBrowser : public platform::Browser {
 public:
  enum class Answer { Complete, Error, Never, Refuse };
  // By address; an address not named completes.
  std::map<std::string, Answer> answers;

  std::unique_ptr<platform::WebPage> OpenHiddenPage(const std::string& agent,
                                                    platform::PageEventHandler onEvent) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      agents_.push_back(agent);
    }
    return std::make_unique<Page>(*this, std::move(onEvent));  // takes the lock itself
  }

  std::vector<std::string> Agents() const { return Locked(agents_); }
  std::vector<std::string> Addresses() const { return Locked(addresses_); }
  int PagesOpen() const { return Locked(pagesOpen_); }  // opened and not yet closed

 private:
  class Page : public platform::WebPage {
   public:
    Page(FakeBrowser& owner, platform::PageEventHandler onEvent) : owner_(owner), onEvent_(std::move(onEvent)) {
      std::lock_guard<std::mutex> lock(owner_.mutex_);
      ++owner_.pagesOpen_;
    }
    ~Page() override { Close(); }
    bool Navigate(const std::string& address, std::chrono::milliseconds) override {
      Answer answer = Answer::Complete;
      {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        owner_.addresses_.push_back(address);
        const auto it = owner_.answers.find(address);
        if (it != owner_.answers.end()) answer = it->second;
      }
      if (answer == Answer::Refuse) return false;
      if (answer == Answer::Complete) onEvent_(platform::PageEvent::DocumentComplete);
      if (answer == Answer::Error) onEvent_(platform::PageEvent::Error);
      return true;
    }
    void Close() override {
      if (closed_) return;
      closed_ = true;
      std::lock_guard<std::mutex> lock(owner_.mutex_);
      --owner_.pagesOpen_;
    }

   private:
    FakeBrowser& owner_;
    platform::PageEventHandler onEvent_;
    bool closed_ = false;
  };

  template <typename T>
  T Locked(const T& value) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value;
  }

  mutable std::mutex mutex_;
  std::vector<std::string> agents_;
  std::vector<std::string> addresses_;
  int pagesOpen_ = 0;
};

}  // namespace fakes
