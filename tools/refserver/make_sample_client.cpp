// make_sample_client OUTDIR MOVIES: writes the reference server's sample
// client file set, the same bytes on every run:
//
//   OUTDIR/client/   the client as the file list names it
//     Salon.exe, WebPane.exe      client programs: say they started, leave a mark
//     Wirex.dll, Tavrel.dll       client libraries (data)
//     Updater.exe                 the launcher: leaves a mark, starts *Salon.exe
//     Uninstall.exe               the uninstaller: leaves a mark, removes nothing
//     AppSmall.ico, UninstallSmall.ico, AppBig.ico   shortcut icons
//     qrx/DlgMsg.qrx, qrx/mcLang.qrx                  the reinstall movie files
//     bundle.exe                  self-extracting archive of data/maps/*
//     data/maps/map1.dat, data/maps/map2.dat          what the archive unpacks
//     prepare.exe                 a program run once from the staging folder
//     .operations                 "X bundle.exe", "R prepare.exe" (client_set.h)
//   OUTDIR/movies/   the installer movies the initial reply names
//   OUTDIR/pixel/    the two web-pixel pages the file-list reply names
//   OUTDIR/.complete written last
//
// The programs are "#!/bin/sh" scripts, run by the kernel through their
// interpreter line once the installer has given them their execute bit.
// Each appends a line "<name> <working folder> <arguments>" to the file that
// WEBSETUP_SAMPLE_LOG names, when it is set, so tests can see what ran.
// The movie files are the reference HTML movies of the folder MOVIES
// (installer.html, reinstall.html, languages.html, logo.html), copied under
// the names the server and the installation give them.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Deterministic bytes: a fixed text head, then xorshift output from `seed`.
std::string SampleData(const std::string& head, size_t size, uint64_t seed) {
  std::string data = head.substr(0, size);
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  while (data.size() < size) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    data.push_back(static_cast<char>(state >> 24));
  }
  return data;
}

void PutLittleEndian(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A 16x16 icon of one colour with a lighter square in its middle: an ICO
// header, one directory entry and a 32-bit bitmap with its mask.
std::string Icon(uint32_t argb) {
  constexpr int kSide = 16;
  std::string bitmap;
  PutLittleEndian(bitmap, 40, 4);         // header size
  PutLittleEndian(bitmap, kSide, 4);      // width
  PutLittleEndian(bitmap, kSide * 2, 4);  // height: image and mask
  PutLittleEndian(bitmap, 1, 2);          // planes
  PutLittleEndian(bitmap, 32, 2);         // bits per pixel
  for (int i = 0; i < 6; ++i) PutLittleEndian(bitmap, 0, 4);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const bool inner = x >= 4 && x < 12 && y >= 4 && y < 12;
      PutLittleEndian(bitmap, inner ? (argb | 0x00808080u) : argb, 4);
    }
  }
  bitmap.append(kSide * 4, '\0');  // mask rows, 32 bits each: all opaque
  std::string icon;
  PutLittleEndian(icon, 0, 2);  // reserved
  PutLittleEndian(icon, 1, 2);  // type: icon
  PutLittleEndian(icon, 1, 2);  // one image
  icon.push_back(static_cast<char>(kSide));
  icon.push_back(static_cast<char>(kSide));
  icon.push_back('\0');  // no palette
  icon.push_back('\0');
  PutLittleEndian(icon, 1, 2);
  PutLittleEndian(icon, 32, 2);
  PutLittleEndian(icon, static_cast<uint32_t>(bitmap.size()), 4);
  PutLittleEndian(icon, 22, 4);  // offset of the bitmap
  return icon + bitmap;
}

std::string Base64Lines(const std::string& data) {
  static const char* const kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t lineLength = 0;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(data[i]) << 16;
    if (i + 1 < data.size()) group |= static_cast<uint8_t>(data[i + 1]) << 8;
    if (i + 2 < data.size()) group |= static_cast<uint8_t>(data[i + 2]);
    out += kDigits[(group >> 18) & 63];
    out += kDigits[(group >> 12) & 63];
    out += i + 1 < data.size() ? kDigits[(group >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kDigits[group & 63] : '=';
    lineLength += 4;
    if (lineLength == 76) {
      out += '\n';
      lineLength = 0;
    }
  }
  if (lineLength > 0) out += '\n';
  return out;
}

// The lines every sample program starts with: where it runs, and the log
// line for tests.
std::string ProgramHead(const std::string& name, const std::string& what) {
  return "#!/bin/sh\n"
         "# " +
         what +
         "\n"
         "if [ -n \"$WEBSETUP_SAMPLE_LOG\" ]; then\n"
         "  echo \"" +
         name +
         " $(pwd) $*\" >>\"$WEBSETUP_SAMPLE_LOG\"\n"
         "fi\n";
}

// A program that prints that it started and leaves `mark` in its working
// folder with its arguments and folder.
std::string MarkingProgram(const std::string& name, const std::string& what, const std::string& says,
                           const std::string& mark) {
  return ProgramHead(name, what) + "echo \"" + says +
         " (arguments: $*; working folder: $(pwd))\"\n"
         "printf 'args=%s\\nfolder=%s\\n' \"$*\" \"$(pwd)\" >" +
         mark +
         "\n"
         "exit 0\n";
}

std::string Launcher() {
  return ProgramHead("Updater.exe", "Sample launcher of the client: leaves a mark and starts the client.") +
         "cd \"$(dirname \"$0\")\" || exit 1\n"
         "echo \"sample launcher started (arguments: $*; folder: $(pwd))\"\n"
         "printf 'args=%s\\nfolder=%s\\n' \"$*\" \"$(pwd)\" >launcher-started.txt\n"
         "# The client's main program carries the installation's prefix before\n"
         "# its plain name.\n"
         "for client in *Salon.exe; do\n"
         "  [ -f \"$client\" ] || continue\n"
         "  [ -x \"$client\" ] || chmod u+x \"$client\" || exit 1\n"
         "  exec \"./$client\" \"$@\"\n"
         "done\n"
         "echo \"sample launcher: no client program in $(pwd)\" >&2\n"
         "exit 1\n";
}

struct Packed {
  std::string path;  // "/" between folders
  std::string data;
};

std::string SelfExtractingArchive(const std::vector<Packed>& files) {
  std::string script = ProgramHead("bundle.exe",
                                   "Sample self-extracting archive: unpacks its files below the working "
                                   "folder.") +
                       "set -e\n";
  for (const Packed& file : files) {
    const size_t slash = file.path.rfind('/');
    if (slash != std::string::npos) script += "mkdir -p '" + file.path.substr(0, slash) + "'\n";
    script += "base64 -d >'" + file.path + "' <<'PAYLOAD'\n" + Base64Lines(file.data) + "PAYLOAD\n";
  }
  script += "echo \"sample archive: " + std::to_string(files.size()) + " files unpacked into $(pwd)\"\n";
  return script;
}

// The content of a reference movie; empty (and a message) when it cannot
// be read.
std::string Movie(const fs::path& folder, const std::string& file, bool& ok) {
  std::ifstream in(folder / file, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.empty()) {
    std::fprintf(stderr, "make_sample_client: cannot read the movie %s\n", (folder / file).c_str());
    ok = false;
  }
  return data;
}

bool Write(const fs::path& path, const std::string& data) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) std::fprintf(stderr, "make_sample_client: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_sample_client OUTDIR MOVIES\n");
    return 2;
  }
  const fs::path out = argv[1];
  const fs::path movies = argv[2];
  bool moviesRead = true;
  // Made beside the folder and moved into place, so that a folder that is
  // there is always whole.
  const fs::path work = out.string() + ".new";
  std::error_code ec;
  fs::remove_all(work, ec);

  const std::vector<Packed> maps = {
      {"data/maps/map1.dat", SampleData("sample map 1\n", 48 * 1024, 11)},
      {"data/maps/map2.dat", SampleData("sample map 2\n", 100003, 12)},
  };
  std::vector<std::pair<std::string, std::string>> files = {
      {"client/Salon.exe",
       MarkingProgram("Salon.exe", "Sample client main program.", "sample client started", "salon-started.txt")},
      {"client/WebPane.exe", MarkingProgram("WebPane.exe", "Sample client web-window helper.",
                                            "sample web helper started", "webpane-started.txt")},
      {"client/Uninstall.exe", MarkingProgram("Uninstall.exe", "Sample uninstaller: leaves a mark, removes nothing.",
                                              "sample uninstaller started", "uninstall-ran.txt")},
      {"client/prepare.exe", MarkingProgram("prepare.exe", "Sample program run once from the staging folder.",
                                            "sample preparation ran", "prepare-ran.txt")},
      {"client/Updater.exe", Launcher()},
      {"client/Wirex.dll", SampleData("sample client library Wirex\n", 80003, 1)},
      {"client/Tavrel.dll", SampleData("sample client library Tavrel\n", 300001, 2)},
      {"client/AppSmall.ico", Icon(0xFF2060C0u)},
      {"client/UninstallSmall.ico", Icon(0xFFC03020u)},
      {"client/AppBig.ico", Icon(0xFF20A040u)},
      {"client/qrx/DlgMsg.qrx", Movie(movies, "reinstall.html", moviesRead)},
      {"client/qrx/mcLang.qrx", Movie(movies, "languages.html", moviesRead)},
      {"client/bundle.exe", SelfExtractingArchive(maps)},
      {"client/.operations",
       "# Files whose operation is not a plain write (see the reference server's client_set.h).\n"
       "X bundle.exe\n"
       "R prepare.exe\n"},
      {"movies/DlgUpdater.qrx", Movie(movies, "installer.html", moviesRead)},
      {"movies/mcLogo.qrx", Movie(movies, "logo.html", moviesRead)},
      {"movies/mcLang.qrx", Movie(movies, "languages.html", moviesRead)},
      {"pixel/pix1.html", "<html><body>pixel 1</body></html>\n"},
      {"pixel/pix2.html", "<html><body>pixel 2</body></html>\n"},
  };
  if (!moviesRead) return 1;
  for (const Packed& map : maps) files.emplace_back("client/" + map.path, map.data);
  for (const auto& [path, data] : files) {
    if (!Write(work / path, data)) return 1;
  }
  if (!Write(work / ".complete", "")) return 1;
  fs::remove_all(out, ec);
  fs::rename(work, out, ec);
  if (ec) {
    std::fprintf(stderr, "make_sample_client: cannot move %s to %s: %s\n", work.c_str(), out.c_str(),
                 ec.message().c_str());
    return 1;
  }
  return 0;
}
