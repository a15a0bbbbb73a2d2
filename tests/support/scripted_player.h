// A movie player that replays a script instead of drawing anything: the
// end-to-end test program and unit tests use it to stand for the user in
// front of the installer's movies. It raises the commands its script names
// when the program loads a movie, plays it or calls one of its functions,
// and records every call the program makes on its controls.
//
// Script, one statement a line; blank lines and lines starting with '#' are
// skipped:
//   version <n>                  what FlashVersion answers (decimal or 0x...);
//                                0xA0000 when no line says otherwise
//   nocontrol                    CreateControl returns null (no player)
//   version-after <file> <n>     once <file> exists, controls can be created
//                                again and FlashVersion answers <n>
//   on <trigger> [modifiers]: <Command> [args]
// Triggers:
//   load <text>                  SetMovie with an address containing <text>
//                                (an empty <text> matches every movie)
//   play                         Play
//   <funcName>                   TCallLabel("_root", "Data") while the
//                                variable "funcName" holds <funcName>
//   <funcName>=<funcParm>        the same, and "funcParm" equals <funcParm>
// Modifiers, counted per line over the matches of its trigger:
//   once | <n>x                  raise on the first match only / the first n
//   after <k>                    skip the first k matches
// Lines with the same trigger raise their commands in script order. In the
// arguments "$funcParm" stands for the current "funcParm", "$funcParm~<i>"
// for its i-th "~" field (from 1) and "$funcName" for "funcName".
//
// Record, one line a call, in order, appended to the record file and flushed
// at once (and kept in memory):
//   create <id> visible|hidden   (followed by " none" when refused)
//   movie <address> | quality <n> | scale <n> | play | version
//   set <name>=<value> | label <target> <label> | size <w>x<h>
//   raise <command> [args]       written when the command reaches the sink
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/main_loop.h"
#include "platform/movie.h"

namespace platform {

class ScriptedMovieHost : public MovieHost {
 public:
  // `script` is the script text. `recordPath` names the record file, opened
  // for appending; empty keeps the record in memory only. `mainLoop` is the
  // main thread's queue: commands are posted to it as tasks and reach a
  // control's sink when the main loop runs them, never from inside a control
  // call. Not owned; it must outlive the host and its controls.
  ScriptedMovieHost(const std::string& script, const std::string& recordPath, MainLoop& mainLoop);
  ~ScriptedMovieHost() override;
  ScriptedMovieHost(const ScriptedMovieHost&) = delete;
  ScriptedMovieHost& operator=(const ScriptedMovieHost&) = delete;

  // Main thread. Null when the script says "nocontrol" (and its
  // "version-after" file does not exist yet).
  std::unique_ptr<MovieControl> CreateControl(DialogWindow& parent, int controlId, bool visible,
                                              MovieCommandSink sink) override;

  // The record so far, one entry per line. Any thread.
  std::vector<std::string> Record() const;
  // Lines of the script that could not be read, as "line <n>: <text>".
  // These lines are skipped; the rest of the script still applies.
  const std::vector<std::string>& ScriptErrors() const { return errors_; }
  // False when the record file could not be opened.
  bool RecordFileOpen() const { return recordFile_ != nullptr; }

  // What the player answers now (the "version-after" file is looked at).
  int32_t CurrentVersion() const;
  bool ControlsAvailable() const;

  // Internal: used by the controls.
  enum class Trigger { Load, Play, Function };
  struct Rule {
    Trigger trigger = Trigger::Play;
    std::string subject;              // movie text or function name
    std::optional<std::string> parm;  // funcParm to match, when given
    int skip = 0;                     // matches to let pass first
    int limit = 0;                    // raises at most; 0 = no limit
    int matches = 0;
    int raised = 0;
    std::string command;
    std::string args;
  };
  void AppendRecord(const std::string& line);
  // Runs the rules of the trigger and posts what they raise for `sink`;
  // `funcName`/`funcParm` fill the arguments' placeholders. Main thread.
  void Fire(Trigger trigger, const std::string& subject, const std::string& funcName, const std::string& funcParm,
            const std::weak_ptr<MovieCommandSink>& sink);

 private:
  void Parse(const std::string& script);
  bool VersionFileExists() const;
  bool ParseLine(const std::string& line);

  MainLoop& queue_;
  std::vector<Rule> rules_;
  std::vector<std::string> errors_;
  int32_t version_ = 0xA0000;
  bool noControl_ = false;
  std::string versionAfterFile_;
  std::optional<int32_t> versionAfter_;

  mutable std::mutex recordLock_;
  std::vector<std::string> record_;
  std::FILE* recordFile_ = nullptr;
};

// Reads the script from `scriptPath` and makes the host. Null when the
// script file cannot be read.
std::unique_ptr<ScriptedMovieHost> LoadScriptedMovieHost(const std::string& scriptPath, const std::string& recordPath,
                                                         MainLoop& mainLoop);

// Replaces the placeholders "$funcParm", "$funcParm~<i>" and "$funcName" in
// `args`. A field beyond the last gives the empty text.
std::string ExpandScriptArgs(const std::string& args, const std::string& funcName, const std::string& funcParm);

}  // namespace platform
