// The replies of the update servlet and the pixel servlet, one per action
// code, with built-in defaults that a reply-set file may override.
//
// Reply-set file: one reply per line, "ac=<n> <reply text>" for action code
// <n>, "ac=other <reply text>" for every action code without its own line,
// and "pixel <reply text>" for the pixel servlet; "acfile=<n> <path>" takes
// the reply for action code <n> from the file at <path> (relative to the
// reply-set file's folder unless absolute), byte for byte: no escapes, line
// breaks kept, only the placeholders filled. Empty lines and lines
// starting with "#" are ignored. In a reply text "\n", "\r", "\t" and "\\"
// stand for a line feed, a carriage return, a tab and a backslash, so any
// reply fits on one line. A reply text may hold placeholders that are filled
// per request:
//   {base}        scheme, host and port the request arrived at, as the
//                 client named them ("https://localhost:8443")
//   {form:NAME}   the decoded value of the request's form field NAME
#pragma once

#include <map>
#include <string>

#include "form.h"

namespace refserver {

struct ReplyContext {
  std::string base;  // "http://host:port" or "https://host:port"
  const Form* form = nullptr;
};

class ReplySet {
 public:
  // Starts with the built-in replies.
  ReplySet();

  // Reads a reply-set file over the built-in replies. Returns false when the
  // file cannot be read or holds a line that is not a reply, in which case
  // `error` says which line and the set is unchanged.
  [[nodiscard]] bool Load(const std::string& path, std::string& error);

  // Replaces the reply to action code `ac` (placeholders allowed).
  void SetUpdateReply(const std::string& ac, std::string text) { byAc_[ac] = std::move(text); }

  // The update servlet's reply to action code `ac` (the raw form value),
  // placeholders filled from `context`.
  std::string UpdateReply(const std::string& ac, const ReplyContext& context) const;
  // The pixel servlet's reply.
  std::string PixelReply(const ReplyContext& context) const;

 private:
  std::map<std::string, std::string> byAc_;
  std::string other_;
  std::string pixel_;
};

// A file-list reply (action code 11): the built-in server serial, version
// fields and pixel addresses, all before "~fl=", then "~fl=" + `records` +
// "||". `records` is empty or a run of "|"-opened records.
std::string FileListReply(const std::string& records);

// Replaces the placeholders of `text` (see above). An unknown placeholder is
// kept as written.
std::string ExpandPlaceholders(const std::string& text, const ReplyContext& context);

}  // namespace refserver
