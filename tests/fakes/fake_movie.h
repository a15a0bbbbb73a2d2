// A movie player for tests that draws nothing: each control it creates
// answers the next version of its queue; an empty queue (or a negative
// entry) means no control can be created.
#pragma once

#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "platform/movie.h"

namespace fakes {

class FakeMovieHost : public platform::MovieHost {
 public:
  std::deque<int32_t> versions;
  std::vector<std::pair<int, bool>> created;  // control id, visible
  std::unique_ptr<platform::MovieControl> CreateControl(platform::DialogWindow&, int controlId, bool visible,
                                                        platform::MovieCommandSink) override {
    created.emplace_back(controlId, visible);
    if (versions.empty()) return nullptr;
    const int32_t version = versions.front();
    versions.pop_front();
    if (version < 0) return nullptr;
    return std::make_unique<Control>(version);
  }

 private:
  struct Control : platform::MovieControl {
    explicit Control(int32_t v) : version(v) {}
    void SetMovie(const std::string&) override {}
    void SetQuality(int32_t) override {}
    void SetScaleMode(int32_t) override {}
    void Play() override {}
    int32_t FlashVersion() override { return version; }
    void SetVariable(const std::string&, const std::string&) override {}
    void TCallLabel(const std::string&, const std::string&) override {}
    void SetSize(int, int) override {}
    int32_t version;
  };
};

}  // namespace fakes
