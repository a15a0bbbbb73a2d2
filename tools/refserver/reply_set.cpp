#include "reply_set.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace refserver {
namespace {

// Movie files named in the initial-post reply, served from the files folder.
constexpr const char* kInitialPostReply =
    "~ac=10~url={base}/servlet/Dispatcher"
    "~fl=|~fn=DlgUpdater.qrx~url={base}/files/movies/DlgUpdater.qrx"
    "|~fn=mcLogo.qrx~url={base}/files/movies/mcLogo.qrx"
    "|~fn=mcLang.qrx~url={base}/files/movies/mcLang.qrx||";

// A server serial, the version record and the two web-pixel pages; the
// file list follows them.
constexpr const char* kFileListHead =
    "~ac=11~sn=100001~cv=1.0.0~cb=1~lrm=0~rmp=0"
    "~pix1={base}/files/pixel/pix1.html~pix2={base}/files/pixel/pix2.html";

constexpr const char* kPixelAddressReply =
    "~ac=12~pix1={base}/files/pixel/pix1.html~pix2={base}/files/pixel/pix2.html";

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    switch (next) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case '\\': out += '\\'; break;
      default: out += '\\'; out += next; break;
    }
  }
  return out;
}

}  // namespace

ReplySet::ReplySet()
    : byAc_{{"10", kInitialPostReply},
            {"11", FileListReply("")},
            {"12", kPixelAddressReply},
            {"15", "~ac=15"},
            {"101", "~ac=101"}},
      other_("~ac=30"),
      pixel_("OK") {}

bool ReplySet::Load(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "Failed to open reply set " + path;
    return false;
  }
  ReplySet loaded = *this;
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.find(' ');
    const std::string selector = line.substr(0, space);
    const std::string reply = space == std::string::npos ? std::string() : Unescape(line.substr(space + 1));
    if (selector == "pixel") {
      loaded.pixel_ = reply;
    } else if (selector.rfind("acfile=", 0) == 0 && selector.size() > 7 && space != std::string::npos) {
      std::filesystem::path file = line.substr(space + 1);
      if (file.is_relative()) file = std::filesystem::path(path).parent_path() / file;
      std::ifstream replyFile(file, std::ios::binary);
      if (!replyFile) {
        error = path + ":" + std::to_string(lineNumber) + ": cannot read " + file.string();
        return false;
      }
      loaded.byAc_[selector.substr(7)] =
          std::string(std::istreambuf_iterator<char>(replyFile), std::istreambuf_iterator<char>());
    } else if (selector == "ac=other") {
      loaded.other_ = reply;
    } else if (selector.rfind("ac=", 0) == 0 && selector.size() > 3) {
      loaded.byAc_[selector.substr(3)] = reply;
    } else {
      error = path + ":" + std::to_string(lineNumber) + ": not a reply line";
      return false;
    }
  }
  *this = std::move(loaded);
  return true;
}

std::string ReplySet::UpdateReply(const std::string& ac, const ReplyContext& context) const {
  const auto it = byAc_.find(ac);
  return ExpandPlaceholders(it == byAc_.end() ? other_ : it->second, context);
}

std::string ReplySet::PixelReply(const ReplyContext& context) const { return ExpandPlaceholders(pixel_, context); }

std::string FileListReply(const std::string& records) { return std::string(kFileListHead) + "~fl=" + records + "||"; }

std::string ExpandPlaceholders(const std::string& text, const ReplyContext& context) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find('{', pos);
    const size_t close = open == std::string::npos ? std::string::npos : text.find('}', open);
    if (close == std::string::npos) {
      out += text.substr(pos);
      break;
    }
    out += text.substr(pos, open - pos);
    const std::string name = text.substr(open + 1, close - open - 1);
    if (name == "base") {
      out += context.base;
    } else if (name.rfind("form:", 0) == 0 && context.form != nullptr) {
      out += FormValue(*context.form, name.substr(5));
    } else {
      out += text.substr(open, close - open + 1);
    }
    pos = close + 1;
  }
  return out;
}

}  // namespace refserver
