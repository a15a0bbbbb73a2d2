// A scripted HTTP client for unit tests of the logic above the transport.
// Every Post records its request and returns a stream that plays the
// client's script: chunks of data, then the end or a failure. A chunk longer
// than a read's capacity is handed out over several reads, as a real
// transport does.
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
  enum Kind { Data, Fail } kind = Data;
  std::string data;
};

inline HttpStep Chunk(std::string data) { return {HttpStep::Data, std::move(data)}; }
inline HttpStep ReadFails() { return {HttpStep::Fail, {}}; }

class FakeHttpClient : public platform::HttpClient {
 public:
  // Played by every stream; after its last step the reply ends normally.
  std::vector<HttpStep> script;

  std::unique_ptr<platform::HttpStream> Post(const platform::HttpPostRequest& request) override {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    return std::make_unique<Stream>(script, this);
  }
  void SetExtraCaFile(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    extraCaFiles_.push_back(path);
  }

  std::vector<platform::HttpPostRequest> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // The capacity of every Read, in order.
  std::vector<size_t> ReadCapacities() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readCapacities_;
  }
  std::vector<std::string> ExtraCaFiles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return extraCaFiles_;
  }

 private:
  class Stream : public platform::HttpStream {
   public:
    Stream(std::vector<HttpStep> steps, FakeHttpClient* owner) : steps_(std::move(steps)), owner_(owner) {}
    bool Read(char* buffer, size_t capacity, size_t* received) override {
      owner_->RecordRead(capacity);
      *received = 0;
      if (next_ >= steps_.size()) return true;
      HttpStep& step = steps_[next_];
      if (step.kind == HttpStep::Fail) return false;
      const size_t n = std::min(capacity, step.data.size());
      std::memcpy(buffer, step.data.data(), n);
      step.data.erase(0, n);
      if (step.data.empty()) ++next_;
      *received = n;
      return true;
    }
    std::string FailureText() const override { return "scripted failure"; }

   private:
    std::vector<HttpStep> steps_;
    size_t next_ = 0;
    FakeHttpClient* owner_;
  };

  void RecordRead(size_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    readCapacities_.push_back(capacity);
  }

  mutable std::mutex mutex_;
  std::vector<platform::HttpPostRequest> requests_;
  std::vector<size_t> readCapacities_;
  std::vector<std::string> extraCaFiles_;
};

}  // namespace fakes
