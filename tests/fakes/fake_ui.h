// Dialog windows that draw nothing and record every call, for tests of the
// dialogs. All windows of one factory write into the factory's record, one
// line a call: "window <template> visible|hidden", "title <text>",
// "topmost", "background <r>,<g>,<b>", "fit <w>x<h>", "show", "hide".
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialog_window.h"

namespace fakes {

class RecordingWindowFactory : public platform::WindowFactory {
 public:
  class Window : public platform::DialogWindow {
   public:
    Window(RecordingWindowFactory& factory, bool visible) : factory_(factory), visible_(visible) {}
    void SetTitle(const std::string& title) override {
      this->title = title;
      factory_.Add("title " + title);
    }
    void SetTopmost() override { factory_.Add("topmost"); }
    void SetBackground(const platform::Colour& c) override {
      factory_.Add("background " + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b));
    }
    void FitClient(int width, int height) override {
      clientWidth = width;
      clientHeight = height;
      factory_.Add("fit " + std::to_string(width) + "x" + std::to_string(height));
    }
    void Show() override {
      visible_ = true;
      factory_.Add("show");
    }
    void Hide() override {
      visible_ = false;
      factory_.Add("hide");
    }
    bool Visible() const override { return visible_; }
    void SetCloseRequestHandler(std::function<void()> handler) override { onCloseRequest = std::move(handler); }

    std::string title;
    std::function<void()> onCloseRequest;
    int clientWidth = 0;
    int clientHeight = 0;

   private:
    RecordingWindowFactory& factory_;
    bool visible_;
  };

  std::unique_ptr<platform::DialogWindow> CreateDialogWindow(int templateId, bool visible) override {
    Add("window " + std::to_string(templateId) + (visible ? " visible" : " hidden"));
    auto window = std::make_unique<Window>(*this, visible);
    {
      std::lock_guard<std::mutex> lock(lock_);
      windows_.push_back(window.get());
    }
    return window;
  }

  std::vector<std::string> Record() const {
    std::lock_guard<std::mutex> lock(lock_);
    return record_;
  }
  // The windows made so far, oldest first; pointers stay valid only while
  // their owners keep them.
  std::vector<Window*> Windows() const {
    std::lock_guard<std::mutex> lock(lock_);
    return windows_;
  }

  void Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(lock_);
    record_.push_back(line);
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> record_;
  std::vector<Window*> windows_;
};

}  // namespace fakes
