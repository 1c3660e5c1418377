// Running one probe as a child process with the Win32 API: its own job, its standard output
// read through an overlapped pipe while it runs, nothing of it left once the run is over.
#include "probe_run.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "command_line.h"
#include "utf16.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string systemMessage(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 ? std::wstring(buffer, length) : L"unknown error";
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                           text.back() == L'.')) {
    text.pop_back();
  }
  return utf8Of(text);
}

void closeHandle(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = nullptr;
}

// Everything one run holds; each handle is closed once, whatever path the run took.
struct ChildHandles {
  HANDLE job = nullptr;
  HANDLE process = nullptr;
  HANDLE readEnd = nullptr;   // ours, overlapped
  HANDLE writeEnd = nullptr;  // the child's standard output
  HANDLE nullInput = nullptr;
  HANDLE nullError = nullptr;
  HANDLE readDone = nullptr;  // the event of the pending read
};

void closeAll(ChildHandles& h) {
  for (HANDLE* handle : {&h.writeEnd, &h.nullInput, &h.nullError, &h.readEnd, &h.readDone,
                         &h.process, &h.job}) {
    closeHandle(*handle);
  }
}

ChildRun notStarted(ChildHandles& handles, ChildRun run, const std::string& executable,
                    DWORD error) {
  if (handles.process != nullptr) TerminateProcess(handles.process, 1);
  closeAll(handles);
  run.started = false;
  run.startError = error;
  run.startProblem = executable + ": " + systemMessage(error);
  return run;
}

// The pipe for the child's standard output: a named pipe, so that our end can be read with a
// timeout; the name is this process's and this run's, and nobody else may hold it first.
bool makeOutputPipe(ChildHandles& h, SECURITY_ATTRIBUTES& inheritable) {
  static std::atomic<unsigned long> serial{0};
  const std::wstring name = L"\\\\.\\pipe\\gpu-probes-inventory-" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(++serial) + L"-" + std::to_wstring(GetTickCount64());
  h.readEnd = CreateNamedPipeW(name.c_str(),
                               PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                               1, 0, 64 * 1024, 0, nullptr);
  if (h.readEnd == INVALID_HANDLE_VALUE) return false;
  h.writeEnd = CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  return h.writeEnd != INVALID_HANDLE_VALUE;
}

// A job that kills whatever is still in it when it is terminated or its handle closed, and
// keeps the system's crash dialog away from every process in it.
bool makeJob(ChildHandles& h) {
  h.job = CreateJobObjectW(nullptr, nullptr);
  if (h.job == nullptr) return false;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  return SetInformationJobObject(h.job, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits) != FALSE;
}

struct OutputReader {
  ChildHandles* handles;
  ChildRun* run;
  OVERLAPPED overlapped;
  char chunk[64 * 1024];
  bool pending;
  bool open;  // some writer still holds the pipe
};

void keep(OutputReader& r, DWORD got) {
  std::string& output = r.run->output;
  const std::size_t room = maxProbeOutput - output.size();
  output.append(r.chunk, got < room ? got : room);
  if (got > room) r.run->overflowed = true;
}

// Issues reads until one is pending, the pipe has ended, or there is too much.
void readOn(OutputReader& r) {
  while (r.open && !r.pending && !r.run->overflowed) {
    ResetEvent(r.overlapped.hEvent);
    DWORD got = 0;
    if (ReadFile(r.handles->readEnd, r.chunk, sizeof r.chunk, &got, &r.overlapped)) {
      keep(r, got);
    } else if (GetLastError() == ERROR_IO_PENDING) {
      r.pending = true;
    } else {
      r.open = false;  // every writer is gone
    }
  }
}

void finishPendingRead(OutputReader& r, bool wait) {
  DWORD got = 0;
  if (GetOverlappedResult(r.handles->readEnd, &r.overlapped, &got, wait ? TRUE : FALSE)) {
    keep(r, got);
  } else if (GetLastError() != ERROR_OPERATION_ABORTED) {
    r.open = false;
  }
  r.pending = false;
}

// The probe has ended: what it wrote is in the pipe already. A grandchild may still hold the
// pipe open, so only what is there is read, without waiting for the pipe's end.
void readWhatIsLeft(OutputReader& r) {
  if (r.pending) {
    CancelIoEx(r.handles->readEnd, &r.overlapped);
    finishPendingRead(r, true);  // completed before the cancel, or cancelled without data
  }
  while (r.open && !r.run->overflowed) {
    DWORD available = 0;
    if (!PeekNamedPipe(r.handles->readEnd, nullptr, 0, nullptr, &available, nullptr) ||
        available == 0) {
      break;
    }
    ResetEvent(r.overlapped.hEvent);
    DWORD got = 0;
    const DWORD want = available < sizeof r.chunk ? available : DWORD{sizeof r.chunk};
    if (ReadFile(r.handles->readEnd, r.chunk, want, &got, &r.overlapped)) {
      keep(r, got);
    } else if (GetLastError() == ERROR_IO_PENDING) {
      r.pending = true;
      finishPendingRead(r, true);  // the bytes are there: this completes at once
    } else {
      break;
    }
  }
}

// Ends everything in the job and waits (briefly) for the probe itself to be gone.
void stopJob(ChildHandles& h) {
  TerminateJobObject(h.job, 1);
  WaitForSingleObject(h.process, 5000);
}

// Our end of the pipe, the null device for the child's input and error, its job and the
// event of our reads; 0 or the Win32 error.
DWORD prepareChildHandles(ChildHandles& h) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!makeOutputPipe(h, inheritable)) return GetLastError();
  h.nullInput = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                            OPEN_EXISTING, 0, nullptr);
  if (h.nullInput == INVALID_HANDLE_VALUE) return GetLastError();
  h.nullError = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                            OPEN_EXISTING, 0, nullptr);
  if (h.nullError == INVALID_HANDLE_VALUE) return GetLastError();
  if (!makeJob(h)) return GetLastError();
  h.readDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return h.readDone == nullptr ? GetLastError() : 0;
}

// Starts the child in its job, running; 0 or the Win32 error.
DWORD startChild(ChildHandles& h, const std::string& executable,
                 const std::vector<std::string>& arguments) {
  // The child inherits these three handles and nothing else, even while other threads of
  // this process start children of their own.
  HANDLE inherited[3] = {h.nullInput, h.writeEnd, h.nullError};
  SIZE_T listSize = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
  std::string listBuffer(listSize, '\0');
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&listBuffer[0]);
  if (!InitializeProcThreadAttributeList(attributes, 1, 0, &listSize)) return GetLastError();
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = h.nullInput;
  startup.StartupInfo.hStdOutput = h.writeEnd;
  startup.StartupInfo.hStdError = h.nullError;
  startup.lpAttributeList = attributes;
  const std::wstring application = utf16Of(executable);
  std::wstring commandLine = utf16Of(windowsCommandLine(executable, arguments));
  PROCESS_INFORMATION process{};
  // Suspended until it is in its job, so that nothing it starts escapes the job; detached,
  // because a probe needs no console and a hidden one costs a console host per child.
  const BOOL created =
      UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                sizeof inherited, nullptr, nullptr) &&
      CreateProcessW(application.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                     CREATE_SUSPENDED | DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT |
                         CREATE_UNICODE_ENVIRONMENT,
                     nullptr, nullptr, &startup.StartupInfo, &process);
  const DWORD createError = GetLastError();
  DeleteProcThreadAttributeList(attributes);
  // Only the child holds its ends now: the pipe ends when the child and all it started have.
  closeHandle(h.writeEnd);
  closeHandle(h.nullInput);
  closeHandle(h.nullError);
  if (!created) return createError;
  h.process = process.hProcess;
  const DWORD error = AssignProcessToJobObject(h.job, h.process) ? 0 : GetLastError();
  if (error == 0) ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  return error;
}

// Reads while the child runs; true once it has exited, false at the deadline or past the limit.
bool readUntilExit(OutputReader& r, Clock::time_point deadline) {
  for (;;) {
    readOn(r);
    if (r.run->overflowed) return false;
    // Never a timeout before the deadline: the wait may wake up to a tick early, so the time
    // left is rounded up and the clock checked again.
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    HANDLE waits[2] = {r.handles->process, r.handles->readDone};
    const auto waitMs = static_cast<DWORD>(std::min<long long>(left.count(), 0x7FFFFFFF));
    const DWORD woke = WaitForMultipleObjects(r.pending ? 2 : 1, waits, FALSE, waitMs);
    if (woke == WAIT_OBJECT_0) return true;
    if (woke == WAIT_OBJECT_0 + 1) {
      finishPendingRead(r, false);
    } else if (woke != WAIT_TIMEOUT) {
      break;  // a wait that cannot go on
    }
  }
  r.run->timedOut = true;
  return false;
}

}  // namespace

ChildRun runProbe(const std::string& executable, const std::vector<std::string>& arguments,
                  std::chrono::milliseconds timeout) {
  ChildRun run;
  timeout = std::min(timeout, std::chrono::milliseconds(std::chrono::hours(24 * 365)));  // no overflow
  run.timeoutSeconds = std::chrono::duration<double>(timeout).count();
  ChildHandles h;
  DWORD error = prepareChildHandles(h);
  const Clock::time_point start = Clock::now();
  if (error == 0) error = startChild(h, executable, arguments);
  if (error != 0) return notStarted(h, run, executable, error);
  run.started = true;

  OutputReader reader{&h, &run, OVERLAPPED{}, {}, false, true};
  reader.overlapped.hEvent = h.readDone;
  const bool exited = readUntilExit(reader, start + timeout);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (exited) {
    readWhatIsLeft(reader);
    DWORD code = 0;
    if (GetExitCodeProcess(h.process, &code)) run.exitCode = code;
  }
  if (reader.pending) {
    CancelIoEx(h.readEnd, &reader.overlapped);
    finishPendingRead(reader, true);
  }
  stopJob(h);
  closeAll(h);
  return run;
}
