#include "misbehaviour.h"

#include <array>
#include <utility>

namespace refserver {
namespace {

constexpr std::array<std::pair<Mode, const char*>, 18> kModeNames{{
    {Mode::Close, "close"},
    {Mode::Stall, "stall"},
    {Mode::Html, "html"},
    {Mode::Long, "long"},
    {Mode::Drop, "drop"},
    {Mode::BadAc, "badac"},
    {Mode::Empty, "empty"},
    {Mode::WrongLength, "wronglength"},
    {Mode::DropAfter, "dropafter"},
    {Mode::NotFound, "404"},
    {Mode::Trickle, "trickle"},
    {Mode::Endless, "endless"},
    {Mode::Redirect, "redirect"},
    {Mode::NoRange, "norange"},
    {Mode::BadRange, "badrange"},
    {Mode::TooMany, "429"},
    {Mode::Unavailable, "503"},
    {Mode::Limit, "limit"},
}};

bool PathMatches(const std::string& rulePath, const std::string& path) {
  if (!rulePath.empty() && rulePath.back() == '/') return path.rfind(rulePath, 0) == 0;
  return rulePath == path;
}

}  // namespace

std::optional<Mode> ParseMode(const std::string& name) {
  for (const auto& [mode, modeName] : kModeNames) {
    if (name == modeName) return mode;
  }
  return std::nullopt;
}

const char* ModeName(Mode mode) {
  for (const auto& [candidate, modeName] : kModeNames) {
    if (candidate == mode) return modeName;
  }
  return "?";
}

void MisbehaviourTable::Add(const Rule& rule) {
  if (rule.times <= 0) return;
  std::lock_guard lock(mutex_);
  rules_.push_back(rule);
}

void MisbehaviourTable::Clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

std::optional<Rule> MisbehaviourTable::Take(const std::string& path, const std::string& ac) {
  std::lock_guard lock(mutex_);
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if (!PathMatches(it->path, path) || (!it->ac.empty() && it->ac != ac)) continue;
    Rule taken = *it;
    if (--it->times <= 0) rules_.erase(it);
    return taken;
  }
  return std::nullopt;
}

}  // namespace refserver
