#include "platform/gtk/gtk_dialogs.h"

#include <gtk/gtk.h>

#include <cstdio>

#include "platform/gtk/gtk_main_loop.h"
#include "platform/gtk/gtk_window.h"

namespace platform {

namespace {

// The folder picker's size: room for the folder list without hiding more
// of the screen than the installer's own window needs.
constexpr int kPickerWidth = 760;
constexpr int kPickerHeight = 520;

// GTK sizes and places its picker from the screen as it is shown (a size
// given before is overwritten): then made smaller and centred on the
// installer's window.
void PlacePicker(GtkWidget* widget, gpointer) {
  GtkWindow* window = GTK_WINDOW(widget);
  gtk_window_resize(window, kPickerWidth, kPickerHeight);
  if (GtkWindow* parent = gtk_window_get_transient_for(window)) {
    int x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(parent, &x, &y);
    gtk_window_get_size(parent, &width, &height);
    gtk_window_move(window, x + (width - kPickerWidth) / 2, y + (height - kPickerHeight) / 2);
  }
}

}  // namespace

BoxAnswer GtkDialogs::ShowMessageBox(const std::string& text, const std::string& caption, BoxStyle style) {
  if (closed_) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return style == BoxStyle::YesNo ? BoxAnswer::No : BoxAnswer::Ok;
  }
  BoxAnswer answer = BoxAnswer::Ok;
  RunOnMainThreadAndWait(mainThread_, [&] { answer = RunBox(text, caption, style); });
  return answer;
}

BoxAnswer GtkDialogs::RunBox(const std::string& text, const std::string& caption, BoxStyle style) {
  GtkDialogWindow* owner = windows_.NewestVisible();
  const GtkMessageType type = style == BoxStyle::Error   ? GTK_MESSAGE_ERROR
                              : style == BoxStyle::YesNo ? GTK_MESSAGE_QUESTION
                                                         : GTK_MESSAGE_INFO;
  GtkWidget* box = gtk_message_dialog_new(owner ? GTK_WINDOW(owner->Widget()) : nullptr, GTK_DIALOG_MODAL, type,
                                          style == BoxStyle::YesNo ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s",
                                          text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
  gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
  gtk_window_set_position(GTK_WINDOW(box), owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  const int response = gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  if (style != BoxStyle::YesNo) return BoxAnswer::Ok;
  return response == GTK_RESPONSE_YES ? BoxAnswer::Yes : BoxAnswer::No;
}

std::optional<std::string> GtkDialogs::BrowseForFolder(const std::string& title) {
  GtkDialogWindow* owner = windows_.NewestVisible();
  GtkWidget* picker = gtk_file_chooser_dialog_new(title.c_str(), owner ? GTK_WINDOW(owner->Widget()) : nullptr,
                                                  GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
                                                  GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_keep_above(GTK_WINDOW(picker), TRUE);
  gtk_file_chooser_set_create_folders(GTK_FILE_CHOOSER(picker), TRUE);
  // The user's own folder, where games usually go, rather than an empty
  // list of recent files.
  gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(picker), g_get_home_dir());
  g_signal_connect(picker, "map", G_CALLBACK(PlacePicker), nullptr);
  std::optional<std::string> chosen;
  if (gtk_dialog_run(GTK_DIALOG(picker)) == GTK_RESPONSE_ACCEPT) {
    if (gchar* folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(picker))) {
      chosen = folder;
      g_free(folder);
    }
  }
  gtk_widget_destroy(picker);
  return chosen;
}

}  // namespace platform
