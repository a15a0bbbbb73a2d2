// Statistics of one installer session: the step in progress, the final
// result (set once), the download counters and the tick stamps that the
// reports send. Written by the main thread and the update worker, read by
// the report threads: every member is atomic.
#pragma once

#include <atomic>
#include <cstdint>

namespace net {

struct SessionStats {
  std::atomic<int32_t> step{0};         // step in progress (SetStep only)
  std::atomic<int32_t> finalCode{0};    // 0 while running; set once
  std::atomic<int32_t> stepAtFinal{0};  // step when finalCode was set
  std::atomic<bool> userExit{false};    // the user confirmed leaving
  std::atomic<int32_t> eps{0};
  std::atomic<int32_t> dlFileCount{0};
  std::atomic<int32_t> dlRetryCount{0};
  std::atomic<int32_t> dlRetryFiles{0};
  std::atomic<double> kbs{0.0};         // download rate, KB per second
  std::atomic<uint32_t> tDlg{0};        // tick stamps; 0 = not yet
  std::atomic<uint32_t> tLang{0};
  std::atomic<uint32_t> tDL{0};

  // Records `code` as the session's final code unless one is set already;
  // true when this call set it (stepAtFinal then holds the step of that
  // moment). Two threads can never both win.
  bool TrySetFinalCode(int32_t code) {
    int32_t expected = 0;
    if (!finalCode.compare_exchange_strong(expected, code)) return false;
    stepAtFinal.store(step.load());
    return true;
  }
};

}  // namespace net
