// Linked into every program the Wine tests run: an exception that nothing
// handles ends the process at once, after one report on the standard error
// (exception code, the faulting address and the calls that led there, each
// as a module and an offset, so that the map file next to the program or
// addr2line names the function). Without it Wine would start its debugger,
// which under the null display waits for ever for a click.
#include <cstdio>

#include <windows.h>

namespace {

void PrintFrame(int depth, DWORD64 address) {
  HMODULE module = nullptr;
  char name[MAX_PATH] = "?";
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(address), &module)) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, sizeof path);
    const char* slash = path;
    for (const char* c = path; *c != '\0'; ++c)
      if (*c == '\\' || *c == '/') slash = c + 1;
    lstrcpynA(name, slash, sizeof name);
  }
  const DWORD64 base = reinterpret_cast<DWORD64>(module);
  std::fprintf(stderr, "  #%d %s+0x%llx\n", depth, name, static_cast<unsigned long long>(address - base));
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  std::fprintf(stderr, "CRASH: process %lu thread %lu, exception 0x%08lx", GetCurrentProcessId(),
               GetCurrentThreadId(), record->ExceptionCode);
  if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
    std::fprintf(stderr, " (%s 0x%llx)", record->ExceptionInformation[0] == 0 ? "read of" : "write to",
                 static_cast<unsigned long long>(record->ExceptionInformation[1]));
  }
  std::fprintf(stderr, "\n");
#if defined(_M_X64) || defined(__x86_64__)
  CONTEXT context = *exception->ContextRecord;
  for (int depth = 0; depth < 24 && context.Rip != 0; ++depth) {
    PrintFrame(depth, context.Rip);
    DWORD64 imageBase = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
    if (function == nullptr) {
      // A leaf function: the return address is on top of the stack.
      context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
      context.Rsp += 8;
      continue;
    }
    void* handlerData = nullptr;
    DWORD64 establisher = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData, &establisher,
                     nullptr);
  }
#else
  PrintFrame(0, reinterpret_cast<DWORD64>(record->ExceptionAddress));
#endif
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), record->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

const bool installed = [] {
  SetUnhandledExceptionFilter(&ReportCrash);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  return true;
}();

}  // namespace
