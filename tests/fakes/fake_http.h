// A scripted HTTP client for unit tests of the logic above the transport.
// Every Post records its request and returns a stream that plays `script`:
// chunks of data, then the end or a failure. A chunk longer than a read's
// capacity is handed out over several reads, as a real transport does.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http.h"

namespace fakes {

struct HttpStep {
  bool fails = false;
  std::string data;
};
inline HttpStep Chunk(std::string data) { return {false, std::move(data)}; }
inline HttpStep ReadFails() { return {true, {}}; }

class FakeHttpClient : public platform::HttpClient {
 public:
  std::vector<HttpStep> script;  // after its last step the reply ends normally

  std::unique_ptr<platform::HttpStream> Post(const platform::HttpPostRequest& request) override {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    return std::make_unique<Stream>(script, this);
  }
  void SetExtraCaFile(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    extraCaFiles_.push_back(path);
  }

  std::vector<platform::HttpPostRequest> Requests() const { return Locked(requests_); }
  std::vector<size_t> ReadCapacities() const { return Locked(readCapacities_); }  // of every Read, in order
  std::vector<std::string> ExtraCaFiles() const { return Locked(extraCaFiles_); }

 private:
  class Stream : public platform::HttpStream {
   public:
    Stream(std::vector<HttpStep> steps, FakeHttpClient* owner) : steps_(std::move(steps)), owner_(owner) {}
    bool Read(char* buffer, size_t capacity, size_t* received) override {
      {
        std::lock_guard<std::mutex> lock(owner_->mutex_);
        owner_->readCapacities_.push_back(capacity);
      }
      *received = 0;
      if (next_ == steps_.size()) return true;
      HttpStep& step = steps_[next_];
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
};

}  // namespace fakes
