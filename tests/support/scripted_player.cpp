#include "support/scripted_player.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "platform/builtin_movies.h"

namespace platform {

namespace {

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// The first word of `text` and the trimmed rest.
std::pair<std::string, std::string> SplitWord(const std::string& text) {
  const std::string trimmed = Trim(text);
  size_t space = 0;
  while (space < trimmed.size() && !std::isspace(static_cast<unsigned char>(trimmed[space]))) ++space;
  return {trimmed.substr(0, space), Trim(trimmed.substr(space))};
}

// The last word of `text` and the trimmed text before it.
std::pair<std::string, std::string> SplitLastWord(const std::string& text) {
  const std::string trimmed = Trim(text);
  size_t start = trimmed.size();
  while (start > 0 && !std::isspace(static_cast<unsigned char>(trimmed[start - 1]))) --start;
  return {trimmed.substr(start), Trim(trimmed.substr(0, start))};
}

// A whole decimal or 0x-prefixed number.
std::optional<long> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, hex ? 16 : 10);
  if (end == text.c_str() || *end != '\0') return std::nullopt;
  return value;
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string Field(const std::string& text, size_t index) {
  size_t start = 0;
  for (size_t i = 1; i < index; ++i) {
    const size_t tilde = text.find('~', start);
    if (tilde == std::string::npos) return {};
    start = tilde + 1;
  }
  const size_t end = text.find('~', start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

class ScriptedControl : public MovieControl {
 public:
  ScriptedControl(ScriptedMovieHost& host, MovieCommandSink sink)
      : host_(host), sink_(std::make_shared<MovieCommandSink>(std::move(sink))) {}

  void SetMovie(const std::string& address) override {
    host_.AppendRecord("movie " + address);
    host_.Fire(ScriptedMovieHost::Trigger::Load, address, variables_.Get("funcName"), variables_.Get("funcParm"),
               sink_);
  }
  void SetQuality(int32_t quality) override { host_.AppendRecord("quality " + std::to_string(quality)); }
  void SetScaleMode(int32_t mode) override { host_.AppendRecord("scale " + std::to_string(mode)); }
  void Play() override {
    host_.AppendRecord("play");
    host_.Fire(ScriptedMovieHost::Trigger::Play, {}, variables_.Get("funcName"), variables_.Get("funcParm"), sink_);
  }
  int32_t FlashVersion() override {
    host_.AppendRecord("version");
    return host_.CurrentVersion();
  }
  void SetVariable(const std::string& name, const std::string& value) override {
    host_.AppendRecord("set " + name + "=" + value);
    variables_.Set(name, value);
  }
  void TCallLabel(const std::string& target, const std::string& label) override {
    host_.AppendRecord("label " + target + " " + label);
    if (target != "_root" || label != "Data") return;
    const std::string name = variables_.Get("funcName");
    host_.Fire(ScriptedMovieHost::Trigger::Function, name, name, variables_.Get("funcParm"), sink_);
  }
  void SetSize(int width, int height) override {
    host_.AppendRecord("size " + std::to_string(width) + "x" + std::to_string(height));
  }

 private:
  ScriptedMovieHost& host_;
  // Shared with the tasks in flight: a command posted for a control that is
  // gone by the time the main loop runs it is dropped, as a destroyed
  // player raises nothing.
  std::shared_ptr<MovieCommandSink> sink_;
  platform::MovieVariables variables_;
};

}  // namespace

std::string ExpandScriptArgs(const std::string& args, const std::string& funcName, const std::string& funcParm) {
  static const std::string kParm = "$funcParm";
  static const std::string kName = "$funcName";
  std::string out;
  size_t i = 0;
  while (i < args.size()) {
    if (args.compare(i, kParm.size(), kParm) == 0) {
      i += kParm.size();
      size_t digits = i + 1;
      while (digits < args.size() && std::isdigit(static_cast<unsigned char>(args[digits]))) ++digits;
      if (i < args.size() && args[i] == '~' && digits > i + 1) {
        out += Field(funcParm, std::strtoul(args.substr(i + 1, digits - i - 1).c_str(), nullptr, 10));
        i = digits;
      } else {
        out += funcParm;
      }
    } else if (args.compare(i, kName.size(), kName) == 0) {
      out += funcName;
      i += kName.size();
    } else {
      out += args[i++];
    }
  }
  return out;
}

ScriptedMovieHost::ScriptedMovieHost(const std::string& script, const std::string& recordPath, MainLoop& mainLoop)
    : queue_(mainLoop) {
  Parse(script);
  if (!recordPath.empty()) recordFile_ = std::fopen(recordPath.c_str(), "a");
}

ScriptedMovieHost::~ScriptedMovieHost() {
  if (recordFile_) std::fclose(recordFile_);
}

void ScriptedMovieHost::Parse(const std::string& script) {
  std::istringstream lines(script);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    if (!ParseLine(trimmed)) errors_.push_back("line " + std::to_string(number) + ": " + trimmed);
  }
}

bool ScriptedMovieHost::ParseLine(const std::string& line) {
  auto [keyword, rest] = SplitWord(line);
  if (keyword == "nocontrol" && rest.empty()) {
    noControl_ = true;
    return true;
  }
  if (keyword == "version") {
    const auto value = ParseNumber(rest);
    if (!value) return false;
    version_ = static_cast<int32_t>(*value);
    return true;
  }
  if (keyword == "version-after") {
    auto [number, file] = SplitLastWord(rest);
    const auto value = ParseNumber(number);
    if (!value || file.empty()) return false;
    versionAfterFile_ = file;
    versionAfter_ = static_cast<int32_t>(*value);
    return true;
  }
  if (keyword != "on") return false;

  // The trigger ends at the first ": " (or a final ':'), so that addresses
  // such as "http://host/x" can stand in a trigger.
  size_t colon = rest.find(": ");
  if (colon == std::string::npos && !rest.empty() && rest.back() == ':') colon = rest.size() - 1;
  if (colon == std::string::npos) return false;
  std::string trigger = Trim(rest.substr(0, colon));
  auto [command, args] = SplitWord(rest.substr(colon + 1));
  if (command.empty()) return false;

  Rule rule;
  rule.command = command;
  rule.args = args;
  // Modifiers stand at the end of the trigger.
  for (;;) {
    auto [last, before] = SplitLastWord(trigger);
    if (last == "once" && !before.empty()) {
      rule.limit = 1;
    } else if (last.size() > 1 && last.back() == 'x' && AllDigits(last.substr(0, last.size() - 1)) && !before.empty()) {
      rule.limit = std::atoi(last.c_str());
      if (rule.limit <= 0) return false;
    } else if (AllDigits(last) && SplitLastWord(before).first == "after") {
      rule.skip = std::atoi(last.c_str());
      before = SplitLastWord(before).second;
      if (before.empty()) return false;
    } else {
      break;
    }
    trigger = before;
  }

  auto [kind, subject] = SplitWord(trigger);
  if (kind == "load") {
    rule.trigger = Trigger::Load;
    rule.subject = subject;
  } else if (kind == "play" && subject.empty()) {
    rule.trigger = Trigger::Play;
  } else {
    rule.trigger = Trigger::Function;
    const size_t equals = trigger.find('=');
    rule.subject = trigger.substr(0, equals);
    if (equals != std::string::npos) rule.parm = trigger.substr(equals + 1);
    if (rule.subject.empty() || rule.subject.find_first_of(" \t") != std::string::npos) return false;
  }
  rules_.push_back(std::move(rule));
  return true;
}

// A name the system cannot look up (too long, say) names no file.
bool ScriptedMovieHost::VersionFileExists() const {
  std::error_code error;
  return versionAfter_ && std::filesystem::exists(versionAfterFile_, error);
}

bool ScriptedMovieHost::ControlsAvailable() const { return !noControl_ || VersionFileExists(); }

int32_t ScriptedMovieHost::CurrentVersion() const { return VersionFileExists() ? *versionAfter_ : version_; }

std::unique_ptr<MovieControl> ScriptedMovieHost::CreateControl(DialogWindow&, int controlId, bool visible,
                                                               MovieCommandSink sink) {
  const std::string line = "create " + std::to_string(controlId) + (visible ? " visible" : " hidden");
  if (!ControlsAvailable()) {
    AppendRecord(line + " none");
    return nullptr;
  }
  AppendRecord(line);
  return std::make_unique<ScriptedControl>(*this, std::move(sink));
}

void ScriptedMovieHost::Fire(Trigger trigger, const std::string& subject, const std::string& funcName,
                             const std::string& funcParm, const std::weak_ptr<MovieCommandSink>& sink) {
  for (Rule& rule : rules_) {
    if (rule.trigger != trigger) continue;
    if (trigger == Trigger::Load && subject.find(rule.subject) == std::string::npos) continue;
    if (trigger == Trigger::Function && (rule.subject != subject || (rule.parm && *rule.parm != funcParm))) continue;
    ++rule.matches;
    if (rule.matches <= rule.skip) continue;
    if (rule.limit > 0 && rule.raised >= rule.limit) continue;
    ++rule.raised;
    std::string args = ExpandScriptArgs(rule.args, funcName, funcParm);
    PostTask(queue_, [this, sink, command = rule.command, args = std::move(args)] {
      const auto target = sink.lock();
      if (!target) return;
      AppendRecord(args.empty() ? "raise " + command : "raise " + command + " " + args);
      if (*target) (*target)(command, args);
    });
  }
}

void ScriptedMovieHost::AppendRecord(const std::string& line) {
  std::lock_guard<std::mutex> lock(recordLock_);
  record_.push_back(line);
  if (recordFile_) {
    std::fputs(line.c_str(), recordFile_);
    std::fputc('\n', recordFile_);
    std::fflush(recordFile_);
  }
}

std::vector<std::string> ScriptedMovieHost::Record() const {
  std::lock_guard<std::mutex> lock(recordLock_);
  return record_;
}

std::unique_ptr<ScriptedMovieHost> LoadScriptedMovieHost(const std::string& scriptPath, const std::string& recordPath,
                                                         MainLoop& mainLoop) {
  std::ifstream in(scriptPath, std::ios::binary);
  if (!in) return nullptr;
  std::ostringstream text;
  text << in.rdbuf();
  return std::make_unique<ScriptedMovieHost>(text.str(), recordPath, mainLoop);
}

}  // namespace platform
