// How the update worker reaches the movie: every movie call is a
// synchronous request to the installer dialog, which hands it to the movie
// on the main thread and then releases the worker.
#pragma once

#include <memory>
#include <string>

namespace update {

class DialogLink {
 public:
  virtual ~DialogLink() = default;
  // Hands a movie call to the dialog and blocks until the dialog has
  // handled it or the dialog has released every waiting worker (it does so
  // when it stops the worker). Either text may be null. Called on the
  // worker thread; the dialog takes ownership of both texts.
  virtual void SendMovieCall(std::unique_ptr<std::string> function, std::unique_ptr<std::string> parameter) = 0;
};

}  // namespace update
