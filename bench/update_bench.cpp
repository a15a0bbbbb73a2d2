// update_bench: the update worker's side of the update benchmark
// (bench/run_bench.sh drives it).
//
//   update_bench make-set small|large|large1 DIR
//       Writes the file set under DIR/<set>/ and its manifest DIR/<set>.manifest
//       (one "<folder> <name> <size>" line per file, "." for the top folder).
//       The content depends on nothing but the set's name.
//   update_bench make-list DIR SET BASE REPLY CURLCONFIG CURLDEST
//       From the manifest: the file-list reply (action code 11) with every
//       file's address under BASE ("http://127.0.0.1:8080"), and a curl
//       configuration that fetches the same addresses into CURLDEST.
//   update_bench install --port N --ca FILE --install DIR --set DIR/SET
//       One whole run of the update worker on this thread against the update
//       server at https://127.0.0.1:N, installing into DIR (made, and made
//       current). Prints "download_seconds=<s> apply_seconds=<s> files=<n>
//       bytes=<n>" once the installation matches the set. With --html MOVIE
//       the movie calls of the run go to MOVIE in the HTML player, as the
//       installer's dialog sends them (needs a display); with --html-calls off
//       as well they end on the main thread and never reach the movie.
//       With --discard OLD, the tree OLD (an earlier run's installation) is
//       removed right before the run begins, when the player is ready.
//   update_bench verify DIR/SET TREE
//       Checks that TREE holds exactly the set's files.
//
// Every check compares each file's size with the manifest, the count of
// files with the manifest's, and the first and last bytes of each file with
// the set's own copy, so a run that installed nothing or the wrong bytes
// fails instead of looking fast. Exit code 0 on success, 1 on a failed run
// or check, 2 on a bad command line.
#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/installer_app.h"
#include "html_attach.h"
#include "platform/posix/posix_platform.h"
#include "update/dialog_link.h"
#include "update/update_worker.h"

namespace {

namespace fs = std::filesystem;

// The movie is not shown: every call is accepted and dropped.
class SilentDialog : public update::DialogLink {
 public:
  void SendMovieCall(std::unique_ptr<std::string>, std::unique_ptr<std::string>) override {}
};

struct SetFile {
  std::string folder;  // "." for the top folder
  std::string name;
  uint64_t size = 0;

  std::string RelativePath() const { return folder == "." ? name : folder + "/" + name; }
};

// splitmix64: a fixed sequence from a fixed seed on every machine.
class Sequence {
 public:
  explicit Sequence(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

 private:
  uint64_t state_;
};

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = 1024 * kKiB;
// How much of each file's start and end is compared with the set's copy.
constexpr uint64_t kComparedEdge = 64 * kKiB;

// 400 files of 1 KiB to 256 KiB in five folders (about 50 MB), four files
// of 256 MiB, or one.
std::vector<SetFile> SetLayout(const std::string& set) {
  std::vector<SetFile> files;
  if (set == "small") {
    static const char* const kFolders[] = {".", "qrx", "qrx/lang", "sounds", "skins/classic"};
    Sequence sizes(0x5EED0001);
    for (int i = 0; i < 400; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "part%03d.dat", i);
      files.push_back({kFolders[i % 5], name, kKiB + sizes.Next() % (255 * kKiB + 1)});
    }
  } else if (set == "large") {
    for (int i = 0; i < 4; ++i) files.push_back({"packs", "pack" + std::to_string(i) + ".bin", 256 * kMiB});
  } else if (set == "large1") {
    files.push_back({"packs", "pack0.bin", 256 * kMiB});
  }
  return files;
}

bool WriteSetFile(const fs::path& path, uint64_t size, uint64_t seed) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  Sequence bytes(seed);
  std::vector<uint64_t> block(128 * 1024);
  for (uint64_t done = 0; done < size && out;) {
    for (uint64_t& word : block) word = bytes.Next();
    const uint64_t n = std::min<uint64_t>(size - done, block.size() * sizeof(uint64_t));
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    done += n;
  }
  out.close();
  return static_cast<bool>(out);
}

int MakeSet(const std::string& set, const fs::path& dir) {
  const std::vector<SetFile> files = SetLayout(set);
  if (files.empty()) {
    std::fprintf(stderr, "update_bench: unknown set %s\n", set.c_str());
    return 2;
  }
  std::ofstream manifest(dir / (set + ".manifest"), std::ios::trunc);
  uint64_t total = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const SetFile& file = files[i];
    if (!WriteSetFile(dir / set / file.RelativePath(), file.size, 0xB0B0000ull + i)) {
      std::fprintf(stderr, "update_bench: failed to write %s\n", file.RelativePath().c_str());
      return 1;
    }
    manifest << file.folder << ' ' << file.name << ' ' << file.size << '\n';
    total += file.size;
  }
  manifest.close();
  if (!manifest) return 1;
  std::printf("set %s: %zu files, %" PRIu64 " bytes\n", set.c_str(), files.size(), total);
  return 0;
}

// The manifest next to a set's folder; empty when it cannot be read.
std::vector<SetFile> ReadManifest(const fs::path& setDir) {
  std::vector<SetFile> files;
  std::ifstream in(setDir.string() + ".manifest");
  SetFile file;
  while (in >> file.folder >> file.name >> file.size) files.push_back(file);
  return files;
}

std::string FileListRecords(const std::vector<SetFile>& files, const std::string& set, const std::string& base) {
  std::string records;
  for (const SetFile& file : files) {
    const std::string rd = file.folder == "." ? std::string() : file.folder;
    records += "|~fn=" + file.name + "~fo=W~rd=" + rd + "~fs=" + std::to_string(file.size) + "~url=" + base + "/" +
               set + "/" + file.RelativePath();
  }
  return records;
}

int MakeList(const fs::path& dir, const std::string& set, const std::string& base, const fs::path& replyPath,
             const fs::path& curlConfigPath, const fs::path& curlDest) {
  const std::vector<SetFile> files = ReadManifest(dir / set);
  if (files.empty()) {
    std::fprintf(stderr, "update_bench: no manifest for %s in %s\n", set.c_str(), dir.c_str());
    return 1;
  }
  // Server serial, version record and pixel pages as the update server
  // sends them, then the list; "{base}" is filled in by the server.
  std::ofstream reply(replyPath, std::ios::binary | std::ios::trunc);
  reply << "~ac=11~sn=100001~cv=1.0.0~cb=1~lrm=0~rmp=0"
           "~pix1={base}/files/pixel/pix1.html~pix2={base}/files/pixel/pix2.html~fl="
        << FileListRecords(files, set, base) << "||";
  std::ofstream curl(curlConfigPath, std::ios::trunc);
  for (const SetFile& file : files) {
    curl << "url = \"" << base << "/" << set << "/" << file.RelativePath() << "\"\n"
         << "output = \"" << (curlDest / file.RelativePath()).string() << "\"\n";
  }
  reply.close();
  curl.close();
  return reply && curl ? 0 : 1;
}

std::string ReadRange(const fs::path& path, uint64_t offset, uint64_t length) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string bytes(length, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(length));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

// Empty when `tree` holds exactly the set's files (folders named in
// `ignored` at its top aside), else what is wrong. Adds up the files.
std::string CheckTree(const fs::path& setDir, const fs::path& tree, const std::vector<std::string>& ignored,
                      uint64_t* count, uint64_t* bytes) {
  const std::vector<SetFile> files = ReadManifest(setDir);
  if (files.empty()) return "no manifest for " + setDir.string();
  *count = *bytes = 0;
  for (const SetFile& file : files) {
    const fs::path path = tree / file.RelativePath();
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(path, error))) return path.string() + " missing";
    const uint64_t size = fs::file_size(path, error);
    if (error || size != file.size) {
      return path.string() + " holds " + std::to_string(size) + " bytes, not " + std::to_string(file.size);
    }
    const uint64_t edge = std::min(file.size, kComparedEdge);
    const fs::path source = setDir / file.RelativePath();
    if (ReadRange(path, 0, edge) != ReadRange(source, 0, edge) ||
        ReadRange(path, file.size - edge, edge) != ReadRange(source, file.size - edge, edge)) {
      return path.string() + " differs from " + source.string();
    }
  }
  for (auto it = fs::recursive_directory_iterator(tree); it != fs::recursive_directory_iterator(); ++it) {
    if (it.depth() == 0 && std::count(ignored.begin(), ignored.end(), it->path().filename().string()) > 0) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_symlink() || !it->is_regular_file()) continue;
    ++*count;
    *bytes += it->file_size();
  }
  if (*count != files.size()) {
    return tree.string() + " holds " + std::to_string(*count) + " files, not " + std::to_string(files.size());
  }
  return std::string();
}

struct InstallOptions {
  int port = 0;
  std::string caFile;
  fs::path installDir;
  fs::path setDir;
  std::string htmlMovie;  // empty: the movie calls are dropped
  bool htmlCalls = true;  // the calls reach the HTML movie
  fs::path discard;       // removed right before the run; empty: none
};

int Install(const InstallOptions& options) {
  const fs::path setDir = fs::absolute(options.setDir);
  // As the installer itself does: the install folder with its "cfg"
  // sub-folder, made current.
  fs::create_directories(options.installDir / "cfg");
  fs::current_path(options.installDir);

  platform::PosixPlatform os;
  os.http.SetExtraCaFile(options.caFile);
  update::PhaseTimes times;
  int32_t result = 0;
  {
    app::CInstallerApp application(os.View());
    application.appName = "Quorix";
    application.clientPrefix = "Quorix";
    application.appRegKey = "Software\\Quorix";
    application.serial = "K7TQ";
    application.installDir = fs::current_path().string();
    application.serverAddress = {"127.0.0.1", "UpdateServlet", "", "", options.port, options.caFile};
    application.serverHost = "127.0.0.1";
    application.serverPort = options.port;
    const auto run = [&](update::DialogLink& dialog) {
      // Memory freed here is written again at once by the download, as
      // with curl and cp, however long the player took to start: a virtual
      // machine may hand freed memory back to its host within a second or
      // two, and writing into memory the host must give again costs up to
      // twice the download's time (see bench/run_bench.sh).
      if (!options.discard.empty()) fs::remove_all(options.discard);
      update::CUpdateVersionFiles worker({update::kRunModeInstall, &application, &dialog, 0, 0});
      worker.RunUpdate();
      application.Reports().WaitForReports();
      result = worker.RunResult();
      times = worker.LastPhaseTimes();
    };
    if (options.htmlMovie.empty()) {
      SilentDialog dialog;
      run(dialog);
    } else if (!bench::RunWithHtmlPlayer(fs::absolute(options.htmlMovie).string(), options.htmlCalls, run)) {
      std::fprintf(stderr, "update_bench: no HTML player (no display, or a build without WebKitGTK)\n");
      return 1;
    }
  }
  if (result != 0) {
    std::fprintf(stderr, "update_bench: the update run ended with %d\n", result);
    return 1;
  }
  for (const char* workDir : {"Update", "Extract"}) {
    if (fs::exists(fs::current_path() / workDir)) {
      std::fprintf(stderr, "update_bench: the work folder %s is still there\n", workDir);
      return 1;
    }
  }
  uint64_t count = 0;
  uint64_t bytes = 0;
  const std::string wrong = CheckTree(setDir, fs::current_path(), {"cfg"}, &count, &bytes);
  if (!wrong.empty()) {
    std::fprintf(stderr, "update_bench: %s\n", wrong.c_str());
    return 1;
  }
  std::printf("download_seconds=%.6f apply_seconds=%.6f files=%" PRIu64 " bytes=%" PRIu64 "\n", times.downloadSeconds,
              times.applySeconds, count, bytes);
  return 0;
}

int Verify(const fs::path& setDir, const fs::path& tree) {
  uint64_t count = 0;
  uint64_t bytes = 0;
  const std::string wrong = CheckTree(setDir, tree, {}, &count, &bytes);
  if (!wrong.empty()) {
    std::fprintf(stderr, "update_bench: %s\n", wrong.c_str());
    return 1;
  }
  std::printf("files=%" PRIu64 " bytes=%" PRIu64 "\n", count, bytes);
  return 0;
}

bool ParseInstall(int argc, char** argv, InstallOptions& options) {
  std::map<std::string, std::string> values;
  for (int i = 2; i + 1 < argc; i += 2) values[argv[i]] = argv[i + 1];
  const size_t known = 4 + values.count("--html") + values.count("--html-calls") + values.count("--discard");
  if ((argc - 2) % 2 != 0 || values.size() != known || !values.count("--port") || !values.count("--ca") ||
      !values.count("--install") || !values.count("--set")) {
    return false;
  }
  if (values.count("--html")) options.htmlMovie = values["--html"];
  if (values.count("--html-calls")) {
    if (values["--html-calls"] != "on" && values["--html-calls"] != "off") return false;
    options.htmlCalls = values["--html-calls"] == "on";
  }
  if (values.count("--discard")) options.discard = fs::absolute(values["--discard"]);
  options.port = std::atoi(values["--port"].c_str());
  options.caFile = values["--ca"];
  options.installDir = fs::absolute(values["--install"]);
  options.setDir = values["--set"];
  return options.port > 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: update_bench make-set small|large|large1 DIR\n"
               "       update_bench make-list DIR SET BASE REPLY CURLCONFIG CURLDEST\n"
               "       update_bench install --port N --ca FILE --install DIR --set DIR/SET [--discard OLD]\n"
               "              [--html MOVIE [--html-calls on|off]]\n"
               "       update_bench verify DIR/SET TREE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  platform::KeepFreedMemoryForReuse();  // as the installer does
  const std::string command = argc > 1 ? argv[1] : "";
  try {
    if (command == "make-set" && argc == 4) return MakeSet(argv[2], argv[3]);
    if (command == "make-list" && argc == 8) return MakeList(argv[2], argv[3], argv[4], argv[5], argv[6], argv[7]);
    if (command == "verify" && argc == 4) return Verify(argv[2], argv[3]);
    InstallOptions options;
    if (command == "install" && ParseInstall(argc, argv, options)) return Install(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "update_bench: %s\n", error.what());
    return 1;
  }
  return Usage();
}
