// A scripted HTTP client for unit tests of the logic above the transport.
// Every Post records its request and returns a stream that plays `script`:
// chunks of data, then the end or a failure. A chunk longer than a read's
// capacity is handed out over several reads, as a real transport does.
//
// Downloads are scripted per address in `downloads`: each opening of an
// address plays its next attempt (the last one again once they run out), so
// "fails twice, then arrives" is three attempts. An address without a
// script cannot be opened. Sessions, opened addresses and the capacity of
// every download read are recorded.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/http.h"

namespace fakes {

struct HttpStep {
  bool fails = false;
  std::string data;
  // Called when a read reaches the step, before its data; false fails the
  // read. Lets a test hold one transfer until another has got somewhere.
  std::function<bool()> gate = nullptr;
};
inline HttpStep Chunk(std::string data) { return {false, std::move(data)}; }
inline HttpStep ReadFails() { return {true, {}}; }
inline HttpStep Gated(std::function<bool()> gate, std::string data) { return {false, std::move(data), std::move(gate)}; }

// One opening of an address: either it cannot be opened (with the reason
// OpenUrl gives), or its body plays `steps`.
struct ScriptedDownload {
  bool opens = true;
  std::string error;
  std::vector<HttpStep> steps;  // after its last step the body ends normally
  // Called as the address opens, before the reply reaches the caller: lets
  // a test change the world between a request and what it writes.
  std::function<void()> onOpen = nullptr;
};
inline ScriptedDownload Serves(std::vector<HttpStep> steps) { return {true, {}, std::move(steps)}; }
inline ScriptedDownload CannotOpen(std::string why = "HTTP status 404") { return {false, std::move(why), {}}; }

// A session as it was opened.
struct OpenedSession {
  std::string agent;
  platform::HttpTimeouts timeouts;
};

class FakeHttpClient : public platform::HttpClient {
 public:
  std::vector<HttpStep> script;  // after its last step the reply ends normally
  // Attempts per address, played in order on each OpenUrl of the address.
  // Set before the code under test runs.
  std::map<std::string, std::vector<ScriptedDownload>> downloads;

  std::unique_ptr<platform::HttpStream> Post(const platform::HttpPostRequest& request) override {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    return std::make_unique<Stream>(script, this, &readCapacities_);
  }
  void SetExtraCaFile(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    extraCaFiles_.push_back(path);
  }

  std::unique_ptr<platform::HttpDownloadSession> OpenSession(const std::string& agent,
                                                             const platform::HttpTimeouts& timeouts) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sessions_.push_back({agent, timeouts});
    }
    return std::make_unique<Session>(this);  // takes the lock itself
  }

  std::vector<platform::HttpPostRequest> Requests() const { return Locked(requests_); }
  std::vector<size_t> ReadCapacities() const { return Locked(readCapacities_); }  // of every post Read, in order
  std::vector<std::string> ExtraCaFiles() const { return Locked(extraCaFiles_); }
  std::vector<OpenedSession> Sessions() const { return Locked(sessions_); }
  int SessionsOpen() const { return Locked(sessionsOpen_); }                   // created and not yet destroyed
  std::vector<std::string> OpenedUrls() const { return Locked(openedUrls_); }  // every OpenUrl, in order
  std::vector<size_t> DownloadReadCapacities() const { return Locked(downloadReadCapacities_); }

 private:
  class Stream : public platform::HttpStream {
   public:
    Stream(std::vector<HttpStep> steps, FakeHttpClient* owner, std::vector<size_t>* capacities)
        : steps_(std::move(steps)), owner_(owner), capacities_(capacities) {}
    bool Read(char* buffer, size_t capacity, size_t* received) override {
      {
        std::lock_guard<std::mutex> lock(owner_->mutex_);
        capacities_->push_back(capacity);
      }
      *received = 0;
      if (next_ == steps_.size()) return true;
      HttpStep& step = steps_[next_];
      if (step.gate && !std::exchange(step.gate, nullptr)()) return false;
      if (step.fails) return false;
      *received = std::min(capacity, step.data.size());
      std::memcpy(buffer, step.data.data(), *received);
      step.data.erase(0, *received);
      if (step.data.empty()) ++next_;
      return true;
    }
    std::string FailureText() const override { return "scripted failure"; }

   private:
    std::vector<HttpStep> steps_;
    size_t next_ = 0;
    FakeHttpClient* owner_;
    std::vector<size_t>* capacities_;  // the owner's list this stream records into
  };

  class Session : public platform::HttpDownloadSession {
   public:
    explicit Session(FakeHttpClient* owner) : owner_(owner) {
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      ++owner_->sessionsOpen_;
    }
    ~Session() override {
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      --owner_->sessionsOpen_;
    }
    std::unique_ptr<platform::HttpStream> OpenUrl(const std::string& url, std::string* error) override {
      ScriptedDownload attempt = CannotOpen("no download scripted for " + url);
      {
        std::lock_guard<std::mutex> lock(owner_->mutex_);
        owner_->openedUrls_.push_back(url);
        const auto script = owner_->downloads.find(url);
        if (script != owner_->downloads.end() && !script->second.empty()) {
          const size_t played = owner_->attemptsPlayed_[url]++;
          attempt = script->second[std::min(played, script->second.size() - 1)];
        }
      }
      if (attempt.onOpen) attempt.onOpen();
      if (!attempt.opens) {
        if (error != nullptr) *error = attempt.error;
        return nullptr;
      }
      if (error != nullptr) error->clear();
      return std::make_unique<Stream>(std::move(attempt.steps), owner_, &owner_->downloadReadCapacities_);
    }

   private:
    FakeHttpClient* owner_;
  };

  template <typename T>
  T Locked(const T& value) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value;
  }

  mutable std::mutex mutex_;
  std::vector<platform::HttpPostRequest> requests_;
  std::vector<size_t> readCapacities_;
  std::vector<std::string> extraCaFiles_;
  std::vector<OpenedSession> sessions_;
  int sessionsOpen_ = 0;
  std::vector<std::string> openedUrls_;
  std::map<std::string, size_t> attemptsPlayed_;
  std::vector<size_t> downloadReadCapacities_;
};

}  // namespace fakes
