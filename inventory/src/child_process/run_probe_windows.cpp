// Running one probe as a child process with the Win32 API: its own job, its standard output
// read through an overlapped pipe while it runs, nothing of it left once the run is over,
// whichever way runProbe is left (an exception included).
#include "gpu_inventory/probe_run.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "child_process/command_line.h"
#include "child_process/environment_block.h"
#include "child_process/full_path.h"
#include "child_process/output_pipe.h"
#include "win32/utf16.h"
#include "win32/win32_handle.h"

namespace gpu_inventory {
namespace {

using Clock = std::chrono::steady_clock;

std::string systemMessage(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  struct Freed {
    wchar_t* text;
    ~Freed() {
      if (text != nullptr) LocalFree(text);
    }
  } freed{buffer};
  std::wstring text = length > 0 ? std::wstring(buffer, length) : L"unknown error";
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                           text.back() == L'.')) {
    text.pop_back();
  }
  return utf8Of(text);
}

// A handle just made, kept in its owner; 0 or the Win32 error of the call that made it.
DWORD keep(Win32Handle& owner, HANDLE made) {
  const DWORD error = GetLastError();
  owner.reset(made);
  return owner ? 0 : error;
}

// Everything one run holds. However the run is left, the child and all it started are ended
// (by the job once the child is in it, on its own before that) and every handle is closed.
struct RunHandles {
  OutputPipe pipe;
  Win32Handle nullInput;
  Win32Handle nullError;
  Win32Handle job;
  Win32Handle readDone;  // the event of the pending read
  Win32Handle process;
  bool inJob = false;
  bool ended = false;

  RunHandles() = default;
  RunHandles(const RunHandles&) = delete;
  RunHandles& operator=(const RunHandles&) = delete;
  ~RunHandles() { end(); }

  // Ends the child and all it started, and waits (briefly) for the child itself to be gone.
  void end() noexcept {
    if (ended || !process) return;
    ended = true;
    if (inJob) {
      TerminateJobObject(job.get(), 1);
    } else {
      TerminateProcess(process.get(), 1);  // created suspended, never ran
    }
    WaitForSingleObject(process.get(), 5000);
  }
};

// A job that kills whatever is still in it when it is terminated or its handle closed, and
// keeps the system's crash dialog away from every process in it.
DWORD makeJob(RunHandles& h) {
  if (const DWORD error = keep(h.job, CreateJobObjectW(nullptr, nullptr))) return error;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  return SetInformationJobObject(h.job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)
             ? 0
             : GetLastError();
}

// The pipe, the null device for the child's input and error, its job and the event of our
// reads; 0 or the Win32 error.
DWORD prepareChildHandles(RunHandles& h) {
  if (const DWORD error = openOutputPipe(h.pipe)) return error;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (const DWORD error = keep(h.nullInput, CreateFileW(L"NUL", GENERIC_READ, share, &inheritable,
                                                        OPEN_EXISTING, 0, nullptr))) {
    return error;
  }
  if (const DWORD error = keep(h.nullError, CreateFileW(L"NUL", GENERIC_WRITE, share, &inheritable,
                                                        OPEN_EXISTING, 0, nullptr))) {
    return error;
  }
  if (const DWORD error = makeJob(h)) return error;
  return keep(h.readDone, CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

// Names as Windows compares them: case ignored by its own uppercase table.
int compareNamesAsWindows(std::wstring_view a, std::wstring_view b) {
  const int order = CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                         static_cast<int>(b.size()), TRUE);
  return order == 0 ? compareIgnoringAsciiCase(a, b) : order - CSTR_EQUAL;
}

// This process's environment with the additions, in block; false, with the Win32 error, when it
// cannot be read (a child without PATH or SystemRoot would fail in ways of its own). Empty when
// there are no additions: the child then inherits the environment as it is.
bool childEnvironment(const std::vector<EnvironmentVariable>& additions, std::wstring& block) {
  block.clear();
  if (additions.empty()) return true;
  struct Strings {
    wchar_t* block = GetEnvironmentStringsW();
    ~Strings() {
      if (block != nullptr) FreeEnvironmentStringsW(block);
    }
  } strings;
  if (strings.block == nullptr) return false;
  std::vector<std::wstring> inherited;
  for (const wchar_t* entry = strings.block; *entry != L'\0'; entry += wcslen(entry) + 1) {
    inherited.emplace_back(entry);
  }
  std::vector<std::pair<std::wstring, std::wstring>> wide;
  for (const EnvironmentVariable& variable : additions) {
    wide.emplace_back(utf16Of(variable.name), utf16Of(variable.value));
  }
  block = environmentBlock(inherited, wide, compareNamesAsWindows);
  return true;
}

struct StartFailure {
  DWORD error;
  const char* step;  // what failed, or nullptr for CreateProcessW itself
};

// Starts the child in its job, in its own folder, running; error 0 when it runs.
StartFailure startChild(RunHandles& h, const ProbeRequest& request) {
  const std::wstring application = utf16Of(request.executable);
  const std::wstring folder = utf16Of(folderOf(request.executable));
  std::wstring commandLine = utf16Of(windowsCommandLine(request.executable, request.arguments));
  std::wstring environment;
  if (!childEnvironment(request.environment, environment)) {
    const DWORD error = GetLastError();
    return {error != 0 ? error : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), "reading the environment failed"};
  }

  // The child inherits these three handles and nothing else, even while other threads of
  // this process start children of their own.
  HANDLE inherited[3] = {h.nullInput.get(), h.pipe.writeEnd.get(), h.nullError.get()};
  SIZE_T listSize = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
  std::vector<ULONGLONG> listBuffer(listSize / sizeof(ULONGLONG) + 1);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer.data());
  if (!InitializeProcThreadAttributeList(attributes, 1, 0, &listSize)) {
    return {GetLastError(), "preparing its handles failed"};
  }
  struct Deleted {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    ~Deleted() { DeleteProcThreadAttributeList(list); }
  } deleted{attributes};
  if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                 sizeof inherited, nullptr, nullptr)) {
    return {GetLastError(), "preparing its handles failed"};
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = h.nullInput.get();
  startup.StartupInfo.hStdOutput = h.pipe.writeEnd.get();
  startup.StartupInfo.hStdError = h.nullError.get();
  startup.lpAttributeList = attributes;
  PROCESS_INFORMATION process{};
  // Suspended until it is in its job, so that nothing it starts escapes the job; detached,
  // because a probe needs no console and a hidden one costs a console host per child.
  if (!CreateProcessW(application.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED | DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT |
                          CREATE_UNICODE_ENVIRONMENT,
                      environment.empty() ? nullptr : &environment[0], folder.c_str(),
                      &startup.StartupInfo, &process)) {
    return {GetLastError(), nullptr};
  }
  h.process.reset(process.hProcess);
  const Win32Handle thread(process.hThread);
  // Only the child holds its ends now: the pipe ends when the child and all it started have.
  h.pipe.writeEnd.reset();
  h.nullInput.reset();
  h.nullError.reset();
  if (!AssignProcessToJobObject(h.job.get(), h.process.get())) {
    return {GetLastError(), "placing it in its job failed"};
  }
  h.inJob = true;
  // A child left suspended would look like one that hangs: a failure to start it instead.
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    return {GetLastError(), "resuming it failed"};
  }
  return {0, nullptr};
}

ChildRun notStarted(ChildRun run, const std::string& executable, DWORD error,
                    const std::string& what) {
  run.started = false;
  run.startError = error;
  run.startProblem = executable + ": " + what;
  return run;
}

// The first wait or read that failed, with its Win32 error.
void watchFailed(ChildRun& run, DWORD error, const char* what) {
  if (run.watchError != 0) return;
  run.watchError = error != 0 ? error : ERROR_GEN_FAILURE;  // a failure, even unexplained
  run.watchProblem = std::string(what) + ": " + systemMessage(run.watchError);
}

// Our reads of the pipe. A read still pending when the reader goes is cancelled and waited for,
// so that the system never writes into a buffer that is gone.
class OutputReader {
 public:
  OutputReader(RunHandles& handles, ChildRun& run) : handles_(handles), run_(run) {
    overlapped_.hEvent = handles.readDone.get();
  }
  OutputReader(const OutputReader&) = delete;
  OutputReader& operator=(const OutputReader&) = delete;
  ~OutputReader() { cancel(); }

  bool pending() const { return pending_; }
  bool stopped() const { return run_.overflowed || run_.watchError != 0; }

  // Issues reads until one is pending, the pipe has ended, there is too much, or one failed.
  void readOn() {
    while (open_ && !pending_ && !stopped()) {
      ResetEvent(overlapped_.hEvent);
      DWORD got = 0;
      if (ReadFile(readEnd(), chunk_, sizeof chunk_, &got, &overlapped_)) {
        append(got);
      } else if (GetLastError() == ERROR_IO_PENDING) {
        pending_ = true;
      } else {
        ended(GetLastError());
      }
    }
  }

  // After the event of the pending read is set, or with wait, once the read has ended.
  void finishPending(bool wait) {
    DWORD got = 0;
    const BOOL done = GetOverlappedResult(readEnd(), &overlapped_, &got, wait ? TRUE : FALSE);
    const DWORD error = done ? 0 : GetLastError();
    pending_ = false;
    if (done) {
      append(got);
    } else if (error != ERROR_OPERATION_ABORTED) {  // not the cancel of our own read
      ended(error);
    }
  }

  void cancel() noexcept {
    if (!pending_) return;
    CancelIoEx(readEnd(), &overlapped_);
    DWORD got = 0;
    GetOverlappedResult(readEnd(), &overlapped_, &got, TRUE);
    pending_ = false;
  }

  // The probe has ended: what it wrote is in the pipe already. A grandchild may still hold the
  // pipe open, so only what is there is read, without waiting for the pipe's end.
  void readWhatIsLeft() {
    if (pending_) {
      CancelIoEx(readEnd(), &overlapped_);
      finishPending(true);  // completed before the cancel, or cancelled without data
    }
    while (open_ && !stopped()) {
      DWORD available = 0;
      if (!PeekNamedPipe(readEnd(), nullptr, 0, nullptr, &available, nullptr)) {
        ended(GetLastError());
        break;
      }
      if (available == 0) break;
      ResetEvent(overlapped_.hEvent);
      DWORD got = 0;
      const DWORD want = std::min<DWORD>(available, sizeof chunk_);
      if (ReadFile(readEnd(), chunk_, want, &got, &overlapped_)) {
        append(got);
      } else if (GetLastError() == ERROR_IO_PENDING) {
        pending_ = true;
        finishPending(true);  // the bytes are there: this completes at once
      } else {
        ended(GetLastError());
      }
    }
  }

 private:
  HANDLE readEnd() const { return handles_.pipe.readEnd.get(); }

  void append(DWORD got) {
    std::string& output = run_.output;
    const std::size_t room = maxProbeOutput - output.size();
    output.append(chunk_, std::min<std::size_t>(got, room));
    if (got > room) run_.overflowed = true;
  }

  // The pipe's end (every writer gone) is no failure; any other error is.
  void ended(DWORD error) {
    open_ = false;
    if (error != ERROR_BROKEN_PIPE) watchFailed(run_, error, "reading its output failed");
  }

  RunHandles& handles_;
  ChildRun& run_;
  OVERLAPPED overlapped_{};
  char chunk_[64 * 1024];
  bool pending_ = false;
  bool open_ = true;  // some writer still holds the pipe
};

// Reads while the child runs; true once it has exited, false at the deadline, past the limit
// or when a wait or read failed.
bool readUntilExit(OutputReader& reader, RunHandles& h, ChildRun& run,
                   Clock::time_point deadline) {
  for (;;) {
    reader.readOn();
    if (reader.stopped()) return false;
    // Never a timeout before the deadline: the wait may wake up to a tick early, so the time
    // left is rounded up and the clock checked again.
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    HANDLE waits[2] = {h.process.get(), h.readDone.get()};
    const auto waitMs = static_cast<DWORD>(std::min<long long>(left.count(), 0x7FFFFFFF));
    const DWORD woke = WaitForMultipleObjects(reader.pending() ? 2 : 1, waits, FALSE, waitMs);
    if (woke == WAIT_OBJECT_0) return true;
    if (woke == WAIT_OBJECT_0 + 1) {
      reader.finishPending(false);
    } else if (woke != WAIT_TIMEOUT) {
      watchFailed(run, GetLastError(), "waiting for it failed");
      return false;
    }
  }
  run.timedOut = true;
  return false;
}

}  // namespace

ChildRun runProbe(const ProbeRequest& request) {
  const std::string& executable = request.executable;
  ChildRun run;
  // At least nothing, at most a year: no overflow in the deadline.
  const auto timeout = std::clamp(request.timeout, std::chrono::milliseconds(0),
                       std::chrono::milliseconds(std::chrono::hours(24 * 365)));
  run.timeoutSeconds = std::chrono::duration<double>(timeout).count();
  if (const char* problem = executablePathProblem(executable)) {
    return notStarted(run, executable, ERROR_BAD_PATHNAME, std::string("refused: ") + problem);
  }
  if (const char* problem = environmentProblem(request.environment)) {
    return notStarted(run, executable, ERROR_BAD_ENVIRONMENT, std::string("refused: ") + problem);
  }
  RunHandles handles;  // declared before the reader: its pending read ends before they close
  if (const DWORD error = prepareChildHandles(handles)) {
    return notStarted(run, executable, error, "preparing its handles failed: " + systemMessage(error));
  }
  const Clock::time_point start = Clock::now();
  const StartFailure failure = startChild(handles, request);
  if (failure.error != 0) {
    const std::string message = systemMessage(failure.error);
    return notStarted(run, executable, failure.error,
                      failure.step == nullptr ? message : failure.step + (": " + message));
  }
  run.started = true;

  OutputReader reader(handles, run);
  const bool exited = readUntilExit(reader, handles, run, start + timeout);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (exited) {
    reader.readWhatIsLeft();
    DWORD code = 0;
    if (GetExitCodeProcess(handles.process.get(), &code)) {
      run.exitCode = code;
    } else {
      watchFailed(run, GetLastError(), "reading its exit code failed");
    }
  } else if (run.timedOut) {
    // Ended first, so that nothing more comes: what it wrote before the limit, a whole document
    // included, is in the pipe, and is its answer.
    handles.end();
    reader.readWhatIsLeft();
  }
  reader.cancel();
  handles.end();
  return run;
}

}  // namespace gpu_inventory
