// The texts of the console player's built-in movies in the languages it
// offers. "%s" and "%d" in a text are filled with snprintf-style
// arguments by the caller, in the order the comment names them.
#pragma once

#include <string>

namespace platform {

struct ConsoleTexts {
  const char* code;  // "en", "de", "fr", "es"
  const char* name;  // the language's own name
  const char* chooseLanguage;
  const char* languagePrompt;   // %d: the default's number
  const char* languageHint;     // %d: how many languages
  const char* connecting;       // %d: seconds waited so far
  const char* installedAlready; // %s: application
  const char* folderProposed;   // %s: folder
  const char* folderPrompt;
  const char* folderAsk;        // %s: application
  const char* folderAskPrompt;
  const char* folderNotFull;
  const char* folderNotUsable;  // %s: folder, %s: reason
  const char* reasonFile;
  const char* reasonForeign;    // %s: the application's folder inside it
  const char* reasonNotWritable;// %s: the system's reason
  const char* folderSubFolder;  // %s: application, %s: folder
  const char* noFolderChosen;
  const char* installingInto;   // %s: folder
  const char* licenceTitle;
  const char* licenceText;      // %s: application
  const char* licencePrompt;
  const char* declined;
  const char* listFailed;       // %s: reason
  const char* retryPrompt;
  const char* quitting;
  const char* installing;       // %s: application
  const char* updating;         // %s: application
  const char* downloading;      // %s: file
  const char* unpacked;
  const char* reinstallOffer;   // %s: application, %s: folder
  const char* reinstallPrompt;
  const char* reinstallConfirm; // %s: folder
  const char* yesNoPrompt;
  const char* yesNoHint;
  const char* answerHint;
  const char* starting;         // %s: application
  const char* finished;         // %s: application, %s: folder, %s: application
  const char* notFinished;      // %d: exit code
  const char* noTerminal;
  const char* noFolder;
  const char* licenceUnattended;
  const char* licenceNoTerminal;
};

// The four languages, English first.
inline constexpr int kConsoleLanguageCount = 4;
const ConsoleTexts& ConsoleLanguage(int index);
// The index of the language with `code` ("de", "DE"), or -1.
int ConsoleLanguageIndex(const std::string& code);
// The language the user's locale asks for: the first of LC_ALL,
// LC_MESSAGES and LANG that is set (each may be null), when it names one
// of the four ("de_DE.UTF-8" is German); English otherwise.
int ConsoleLanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang);

// `format` filled in; never longer than 4000 bytes.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform
