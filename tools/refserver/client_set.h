// The file-list reply (action code 11) built from a folder of client files:
// the reference server's stand-in for an operator's published client. The
// server serves the same folder under "/files/client/", so every address of
// the list leads to the file it was listed from.
//
// Every regular file below the folder is listed, with its real size, except
// the operations file ".operations". That file names the files whose
// operation is not a plain write, one per line as "<letter> <path>" ("/"
// between folders; "#" starts a comment):
//   X <path>  a self-extracting archive, run in the extract folder
//   R <path>  a program run once in the staging folder
//   D <path>  a file of the installation to delete; it need not exist in
//             the folder and is listed with size 0
// A file that the operations file does not name is a "W" entry.
//
// Order of the entries:
//   1. "X" archives, in the order the operations file names them, so that
//      what they unpack is in the extract folder before the "W" entries that
//      take it (a "W" entry's address ends with the name of the file the
//      archive unpacks at the entry's folder);
//   2. "W" files, in byte order of their paths;
//   3. "D" deletions, in the order the operations file names them;
//   4. "R" programs last, so that they run in a staging folder that already
//      holds every other file.
// A record is "|~fn=<name>~fo=<letter>~rd=<folder>~fs=<size>~url=<address>":
// <folder> is the path's folder with "\" between its parts (empty at the
// top), <address> is "{base}/files/client/<path>". The settings fields of
// the built-in file-list reply stand before "~fl=" and the list is closed by
// "||".
#pragma once

#include <string>

namespace refserver {

// The name of the operations file inside a client folder.
inline constexpr const char* kOperationsFile = ".operations";

// Builds the reply text (with the "{base}" placeholder) for the folder
// `dir`. Returns false with `error` set when the folder cannot be read, the
// operations file holds a line it does not understand, or names an "X" or
// "R" file that is not in the folder; `reply` is then unchanged.
[[nodiscard]] bool BuildClientSetReply(const std::string& dir, std::string& reply, std::string& error);

}  // namespace refserver
