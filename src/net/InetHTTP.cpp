#include "net/InetHTTP.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "diag/HDebug.h"
#include "net/CommUtils.h"
#include "net/DownloadSink.h"
#include "platform/Platform.h"
#include "util/Utils.h"
#include "util/UtilsDllWin.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWaitWin.h"
#include "util/WinHandle.h"

namespace havrek {

namespace {

// ---- The library, looked up by name ----

enum ProcId {
  kGetConnectedState,
  kCloseHandle,
  kOpen,
  kOpenUrl,
  kQueryInfo,
  kReadFile,
  kConnect,
  kOpenRequest,
  kSendRequest,
  kSetOption,
  kLastResponseInfo,
  kCrackUrl,
  kDataAvailable,
  kProcCount
};

constexpr const char* kProcNames[kProcCount] = {
    "InternetGetConnectedState", "InternetCloseHandle", "InternetOpenA",    "InternetOpenUrlA",
    "HttpQueryInfoA",            "InternetReadFile",    "InternetConnectA", "HttpOpenRequestA",
    "HttpSendRequestA",          "InternetSetOptionA",  "InternetGetLastResponseInfoA",
    "InternetCrackUrlA",         "InternetQueryDataAvailable"};

struct WinInetLibrary {
  Module module;
  FARPROC procs[kProcCount] = {};
  bool looked[kProcCount] = {};
};
WinInetLibrary g_inet;
bool g_abort = false;

FARPROC Lookup(ProcId id) {
  if (!g_inet.module) {
    HMODULE loaded = nullptr;
    LoadDllProc("WinINet.dll", "", &loaded);
    if (!loaded) return nullptr;
    g_inet.module.reset(loaded);
    std::fill(std::begin(g_inet.looked), std::end(g_inet.looked), false);
  }
  if (!g_inet.looked[id]) {
    g_inet.procs[id] = ::GetProcAddress(g_inet.module.get(), kProcNames[id]);
    g_inet.looked[id] = true;
  }
  return g_inet.procs[id];
}

template <class F>
F Fn(ProcId id) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(Lookup(id)));
}

// Every function looked up here, so that a call on the worker thread below
// only reads what is already known.
void ResolveAll() {
  for (int id = 0; id < kProcCount; ++id) Lookup(static_cast<ProcId>(id));
}

// The seam's clock, signed for the arithmetic of deadlines and rates: the
// one clock of every download.
std::int64_t NowMs() { return static_cast<std::int64_t>(plat::TickMs()); }

// ---- Calls that may wait for ever ----
//
// Under Wine a server that falls silent holds WinINet's calls beyond every
// time-out set, and closing the handle does not wake them. Such calls run on
// a worker thread while this one serves its windows and watches the abort
// flag and the fetch's deadline; a call given up on is left to its worker,
// which ends once the call returns. What a call touches lives in state the
// worker shares, so nothing it writes to goes away under it.

std::atomic<int> g_workers{0};

struct WorkerState {
  KernelHandle ready;  // a call waits (auto-reset)
  KernelHandle done;   // the call returned (auto-reset)
  std::function<void()> call;
  std::atomic<bool> quit{false};
};

DWORD WINAPI WorkerMain(void* parameter) {
  {
    const std::unique_ptr<std::shared_ptr<WorkerState>> own(static_cast<std::shared_ptr<WorkerState>*>(parameter));
    WorkerState& s = **own;
    for (;;) {
      ::WaitForSingleObject(s.ready.get(), INFINITE);
      if (s.quit) break;
      s.call();
      ::SetEvent(s.done.get());
    }
  }
  --g_workers;
  return 0;
}

class BlockingCaller {
 public:
  BlockingCaller() : state_(std::make_shared<WorkerState>()) {
    state_->ready.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    state_->done.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!state_->ready || !state_->done) return;
    auto* handed = new std::shared_ptr<WorkerState>(state_);
    ++g_workers;
    thread_.reset(::CreateThread(nullptr, 64 * 1024, WorkerMain, handed, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread_) {
      --g_workers;
      delete handed;
    }
  }
  BlockingCaller(const BlockingCaller&) = delete;
  BlockingCaller& operator=(const BlockingCaller&) = delete;
  ~BlockingCaller() {
    if (!thread_) return;
    state_->quit = true;
    ::SetEvent(state_->ready.get());
    if (!abandoned_) ::WaitForSingleObject(thread_.get(), INFINITE);
  }

  // Runs call on the worker, serving the windows meanwhile; false when the
  // abort flag or the deadline (a NowMs value) gave it up first. After
  // that nothing more runs.
  bool Run(std::function<void()> call, std::int64_t deadline) {
    if (abandoned_) return false;
    if (!thread_) {
      // No thread to be had: the call blocks as it always did.
      call();
      return true;
    }
    state_->call = std::move(call);
    ::SetEvent(state_->ready.get());
    const HANDLE done = state_->done.get();
    for (;;) {
      if (::MsgWaitForMultipleObjects(1, &done, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0) return true;
      YieldX(0);
      if (::WaitForSingleObject(done, 0) == WAIT_OBJECT_0) return true;
      if (DownloadAborted() || NowMs() > deadline) {
        abandoned_ = true;
        return false;
      }
    }
  }

 private:
  std::shared_ptr<WorkerState> state_;
  KernelHandle thread_;
  bool abandoned_ = false;
};

// A missing function fails like the call itself would.
HINTERNET InetOpen(const char* agent) {
  auto fn = Fn<decltype(&::InternetOpenA)>(kOpen);
  return fn ? fn(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0) : nullptr;
}

HINTERNET InetOpenUrl(HINTERNET internet, const std::string& url, DWORD flags) {
  auto fn = Fn<decltype(&::InternetOpenUrlA)>(kOpenUrl);
  return fn && internet ? fn(internet, url.c_str(), nullptr, 0, flags, 0) : nullptr;
}

bool InetQueryInfo(HINTERNET request, DWORD level, void* buffer, DWORD* length) {
  auto fn = Fn<decltype(&::HttpQueryInfoA)>(kQueryInfo);
  return fn && request && fn(request, level, buffer, length, nullptr);
}

bool InetRead(HINTERNET request, void* buffer, DWORD count, DWORD* read) {
  *read = 0;
  auto fn = Fn<decltype(&::InternetReadFile)>(kReadFile);
  return fn && fn(request, buffer, count, read);
}

// What has arrived of the body and can be read without waiting for more; 0 at
// its end. Waits only while nothing has arrived yet.
bool InetDataAvailable(HINTERNET request, DWORD* available) {
  *available = 0;
  auto fn = Fn<decltype(&::InternetQueryDataAvailable)>(kDataAvailable);
  return fn && fn(request, available, 0, 0);
}

// What a failed read leaves to say: the system's text for the code, the
// library's own text for its codes, else the server's last words.
std::string ReadErrorDetail(DWORD code) {
  std::string detail = SystemErrorText(code);
  if (detail.empty() && code >= INTERNET_ERROR_BASE && code <= INTERNET_ERROR_LAST && g_inet.module) {
    char text[1024] = {};
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, g_inet.module.get(), code,
                               0, text, sizeof text, nullptr);
    while (n > 0 && (static_cast<unsigned char>(text[n - 1]) <= ' ' || text[n - 1] == '.')) --n;
    detail.assign(text, n);
  }
  if (detail.empty()) {
    if (auto fn = Fn<decltype(&::InternetGetLastResponseInfoA)>(kLastResponseInfo)) {
      char text[1024] = {};
      DWORD error = 0, length = sizeof text;
      if (fn(&error, text, &length)) detail.assign(text, std::min<DWORD>(length, sizeof text));
    }
  }
  return Trim(detail);
}

// A read asks for what has arrived, or for what the transfer's rate so far
// brings in within kAheadMs when that is more: the system tells at most its
// own read buffer as arrived (8 KB under Wine), and a call per 8 KB costs more
// than the bytes on a fast link; on a slow one a read never waits for the
// network once something is there. Reads are gathered into rounds of at most
// this many bytes and milliseconds, each written at once and followed by
// serving the windows.
constexpr DWORD kRoundBytes = 1024 * 1024;
constexpr std::int64_t kRoundMs = 30;
constexpr std::int64_t kAheadMs = 5;

int HTTP_GetStatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD length = sizeof status;
  if (!InetQueryInfo(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length)) return 0;
  return static_cast<int>(status);
}

std::string HTTP_GetStatusText(HINTERNET request) {
  char text[256] = {};
  DWORD length = sizeof text - 1;
  if (!InetQueryInfo(request, HTTP_QUERY_STATUS_TEXT, text, &length)) return std::string();
  return Trim(std::string(text, std::min<DWORD>(length, sizeof text - 1)));
}

}  // namespace

void CloseInternetHandle(HINTERNET h) {
  if (auto fn = Fn<decltype(&::InternetCloseHandle)>(kCloseHandle)) fn(h);
}

UrlRequest HTTP_OpenUrl(HINTERNET internet, const std::string& url, const std::string& user,
                        const std::string& password) {
  UrlRequest r;
  if (!internet) return r;
  // Never from the cache, and never into it: a setup package has no business
  // in the browser's cache.
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  if (user.empty()) {
    r.request.reset(InetOpenUrl(internet, HttpUrl(url), flags));
    return r;
  }
  const HttpTarget target = CredentialTarget(url);
  if (target.host.empty()) return r;
  auto connect = Fn<decltype(&::InternetConnectA)>(kConnect);
  auto openRequest = Fn<decltype(&::HttpOpenRequestA)>(kOpenRequest);
  auto send = Fn<decltype(&::HttpSendRequestA)>(kSendRequest);
  if (!connect || !openRequest || !send) return r;
  r.connection.reset(connect(internet, target.host.c_str(), target.port, user.c_str(), password.c_str(),
                             INTERNET_SERVICE_HTTP, 0, 0));
  if (!r.connection) return r;
  const std::string object = "/" + target.path;
  r.request.reset(openRequest(r.connection.get(), "GET", object.c_str(), nullptr, nullptr, nullptr,
                              flags | (target.secure ? INTERNET_FLAG_SECURE : 0), 0));
  if (r.request && !send(r.request.get(), nullptr, 0, nullptr, 0)) r.request.reset();
  return r;
}

void HTTP_Touch(const std::string& url) {
  // HEAD, not GET: a GET dropped at once still has the server start sending
  // the whole file, and closing it can mean reading all of that first.
  auto crack = Fn<decltype(&::InternetCrackUrlA)>(kCrackUrl);
  auto connect = Fn<decltype(&::InternetConnectA)>(kConnect);
  auto openRequest = Fn<decltype(&::HttpOpenRequestA)>(kOpenRequest);
  auto send = Fn<decltype(&::HttpSendRequestA)>(kSendRequest);
  if (!crack || !connect || !openRequest || !send) return;
  const std::string full = HttpUrl(url);
  std::string host(full.size() + 1, '\0'), path(full.size() + 1, '\0'), extra(full.size() + 1, '\0');
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = static_cast<DWORD>(host.size());
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!crack(full.c_str(), 0, 0, &parts) || parts.dwHostNameLength == 0) return;
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  if (!secure && parts.nScheme != INTERNET_SCHEME_HTTP) return;
  const std::string object = path.substr(0, parts.dwUrlPathLength) + extra.substr(0, parts.dwExtraInfoLength);

  InternetHandle internet(InetOpen(kSizeAgent));
  if (!internet) return;
  HTTP_SetTimeouts(internet.get(), kDownloadTimeoutMs);
  InternetHandle connection(connect(internet.get(), host.c_str(), parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP,
                                    0, 0));
  if (!connection) return;
  // Headers only, but a cache entry all the same: kept out of the cache like
  // the download itself.
  const DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | (secure ? INTERNET_FLAG_SECURE : 0);
  InternetHandle request(openRequest(connection.get(), "HEAD", object.empty() ? "/" : object.c_str(), nullptr,
                                     nullptr, nullptr, flags, 0));
  if (request) send(request.get(), nullptr, 0, nullptr, 0);
}

void HTTP_SetTimeouts(HINTERNET internet, DWORD ms) {
  auto fn = Fn<decltype(&::InternetSetOptionA)>(kSetOption);
  if (!fn || !internet) return;
  // Set on the Internet handle as soon as it is open, before any connection
  // or request hangs off it: those take their time-outs from it when they
  // are made, and a later set would miss them. Receive and send are set a
  // second time under their control-channel names, which wininet.h defines
  // as the same two options. Under Wine a silent server still outlasts
  // them all, hence the worker's deadline above.
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT, INTERNET_OPTION_CONTROL_SEND_TIMEOUT,
                       INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT}) {
    DWORD value = ms;
    fn(internet, option, &value, sizeof value);
  }
}

std::int64_t HTTP_GetContentLength(HINTERNET request) {
  char text[64] = {};
  DWORD length = sizeof text - 1;
  if (!InetQueryInfo(request, HTTP_QUERY_CONTENT_LENGTH, text, &length)) return -1;
  std::int64_t size = -1;
  if (!TryTextToInt64(std::string(text, std::min<DWORD>(length, sizeof text - 1)), size) || size < 0) return -1;
  return size;
}

std::uint32_t HTTP_GetFileDate(HINTERNET request) {
  SYSTEMTIME st = {};
  DWORD length = sizeof st;
  if (!InetQueryInfo(request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &st, &length)) return 0;
  FILETIME ft;
  WORD date = 0, time = 0;
  if (!::SystemTimeToFileTime(&st, &ft) || !::FileTimeToDosDateTime(&ft, &date, &time)) return 0;
  return static_cast<std::uint32_t>(date) << 16 | time;
}

std::int64_t HTTP_GetFileSize(const std::string& url) {
  ResolveAll();
  // A GET for the headers alone: past the cache and kept out of it like the
  // download, or the package's first bytes land in the browser's cache.
  struct Answer {
    std::int64_t size = -1;
    bool opened = false;
  };
  const auto answer = std::make_shared<Answer>();
  BlockingCaller caller;
  const bool answered = caller.Run(
      [answer, url] {
        HTTP_Touch(url);
        InternetHandle internet(InetOpen(kSizeAgent));
        if (!internet) return;
        HTTP_SetTimeouts(internet.get(), kDownloadTimeoutMs);
        InternetHandle request(
            InetOpenUrl(internet.get(), HttpUrl(url), INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE));
        if (!request) return;
        answer->opened = true;
        answer->size = HTTP_GetContentLength(request.get());
      },
      NowMs() + FetchFloorMs());
  if (!answered) {
    DebugLine("HTTP_GetFileSize: no answer, given up  " + url);
    return -1;
  }
  if (answer->opened) DebugLine("HTTP_GetFileSize=" + std::to_string(answer->size) + "  " + url);
  return answer->size;
}

namespace {

// What the worker's calls touch: the handles and the round buffer.
struct Transfer {
  InternetHandle internet;
  UrlRequest request;
  DWORD openCode = 0;
  std::vector<char> buffer;
  DWORD got = 0;
  DWORD code = 0;
  bool readOk = true;
  bool ended = false;
};

// One download, from its warm-up to its conclusion.
struct Download {
  explicit Download(const std::string& address) : url(address), fileName(UrlFileName(address)) {}

  std::string url;
  std::string fileName;  // the name in messages
  std::int64_t floorMs = FetchFloorMs();
  std::int64_t started = NowMs();
  // Declared before the caller, which thus ends first and waits for its
  // worker before the handles close; a worker given up on keeps a share.
  std::shared_ptr<Transfer> t = std::make_shared<Transfer>();
  BlockingCaller caller;
  // From the answer's headers.
  std::int64_t size = -1;
  std::uint32_t date = 0;
  int status = 0;
  std::int64_t received = 0;
  std::string openFailure;  // why the request did not open, for the debug channel

  std::int64_t AllowedMs() const { return FetchAllowedMs(floorMs, std::max(size, received)); }
  std::string GivenUp() const {
    return DownloadAborted() ? std::string(kDownloadAbortedText)
                             : ReadFailedText(fileName, DeadlineDetail(received, NowMs() - started));
  }
  std::string StatusError() const {
    return ReadFailedText(fileName, HttpStatusDetail(status, HTTP_GetStatusText(t->request.request.get())));
  }
};

// Warm-up, connection, request and the answer's headers. Empty, or the error
// that ends the download before its first byte.
std::string OpenDownload(Download& d, const std::string& user, const std::string& password,
                         std::int64_t maxBytes) {
  const std::shared_ptr<Transfer> t = d.t;
  const std::string url = d.url;
  if (!d.caller.Run([url] { HTTP_Touch(url); }, d.started + d.floorMs)) return d.GivenUp();
  t->internet.reset(InetOpen(kDownloadAgent));
  if (!t->internet) return kInitFailedText;
  HTTP_SetTimeouts(t->internet.get(), kDownloadTimeoutMs);
  if (!d.caller.Run(
          [t, url, user, password] {
            t->request = HTTP_OpenUrl(t->internet.get(), url, user, password);
            t->openCode = ::GetLastError();
          },
          d.started + d.floorMs))
    return d.GivenUp();
  if (!t->request) {
    // The user's text stays short; the debug channel says why (a refused
    // certificate, no such host, ...).
    const DWORD code = t->openCode;
    const std::string detail = ReadErrorDetail(code);
    d.openFailure = "error " + std::to_string(code) + (detail.empty() ? std::string() : ": " + detail);
    return OpenFailedText(url);
  }
  HINTERNET handle = t->request.request.get();
  d.size = HTTP_GetContentLength(handle);
  d.date = HTTP_GetFileDate(handle);
  d.status = HTTP_GetStatusCode(handle);
  if (d.size == 0) return IsHttpErrorStatus(d.status) ? d.StatusError() : NotFoundText(url);
  if (maxBytes >= 0 && d.size > maxBytes) return ReadFailedText(d.fileName, TooLargeDetail(d.size, maxBytes));
  return std::string();
}

// One round on the worker: what has arrived, read piece by piece until the
// buffer is full, the body ends or the round has had its time.
void ReadRound(Transfer& t, std::int64_t received, std::int64_t transferStart) {
  HINTERNET handle = t.request.request.get();
  t.got = 0;
  t.code = 0;
  t.readOk = true;
  t.ended = false;
  const std::int64_t roundStart = NowMs();
  while (t.got < kRoundBytes) {
    DWORD available = 0;
    DWORD n = 0;
    // Nothing available means the end: the read of one byte says so.
    t.readOk = InetDataAvailable(handle, &available);
    if (t.readOk) {
      const std::int64_t ahead = ReadAheadBytes(received + t.got, NowMs() - transferStart, kAheadMs);
      const std::int64_t ask =
          std::clamp<std::int64_t>(std::max<std::int64_t>(available, ahead), 1, kRoundBytes - t.got);
      t.readOk = InetRead(handle, t.buffer.data() + t.got, static_cast<DWORD>(ask), &n);
    }
    if (!t.readOk) {
      t.code = ::GetLastError();
      break;
    }
    if (n == 0) {
      t.ended = true;
      break;
    }
    t.got += n;
    if (NowMs() - roundStart >= kRoundMs) break;
  }
}

// Rounds until the body ends, a read fails or the download is aborted; each
// round is handed to the sink here and the windows served. Empty, or the
// error that ended the reading.
std::string ReadBody(Download& d, const DownloadSink& sink, TProgBar* progress, std::int64_t expected,
                     std::int64_t maxBytes) {
  // Without a length the size the caller expects draws the bar, and bounds
  // the body.
  std::int64_t limit = d.size < 0 ? UnknownLengthLimit(expected) : -1;
  const bool capped = maxBytes >= 0 && (limit < 0 || maxBytes < limit);
  if (capped) limit = maxBytes;
  const ProgressPlan plan = PlanProgress(d.size < 0 && expected > 0 ? expected : d.size);
  if (progress) progress->SetProgress(1, plan.maximum);
  std::int64_t stepsShown = 0;
  TBytesRate meter = MeterForTotal(d.size);

  const std::shared_ptr<Transfer> t = d.t;
  t->buffer.resize(kRoundBytes);
  const std::int64_t transferStart = NowMs();
  std::string error;
  do {
    YieldX(0);
    if (DownloadAborted()) break;
    const std::int64_t received = d.received;
    if (!d.caller.Run([t, received, transferStart] { ReadRound(*t, received, transferStart); },
                      d.started + d.AllowedMs()))
      return d.GivenUp();
    if (!t->readOk) error = ReadFailedText(d.fileName, ReadErrorDetail(t->code));
    if (t->got > 0) {
      d.received += t->got;
      if (limit >= 0 && d.received > limit)
        return ReadFailedText(d.fileName, capped ? TooLargeDetail(d.received, limit)
                                                 : LongBodyDetail(d.received, expected));
      const std::string failed = sink.write ? sink.write(t->buffer.data(), t->got, d.received) : std::string();
      if (!failed.empty()) return ReadFailedText(d.fileName, failed);
    }
    const std::int64_t elapsed = NowMs() - d.started;
    if (elapsed > d.AllowedMs()) return ReadFailedText(d.fileName, DeadlineDetail(d.received, elapsed));
    const std::string text =
        meter.ProgressText(d.size, d.received, t->got, static_cast<std::uint32_t>(NowMs()));
    if (t->got > 0 && progress) {
      for (const std::int64_t done = plan.StepsDone(d.received); stepsShown < done; ++stepsShown)
        progress->SetText(text);
    }
  } while (t->readOk && !t->ended && !DownloadAborted());
  return error;
}

// What the download comes to, given the error its reading ended with: the
// sink keeps the bytes, or nothing of them stays behind.
std::string ConcludeDownload(const Download& d, const DownloadSink& sink, std::string error) {
  if (sink.close) sink.close();
  if (DownloadAborted()) {
    error = kDownloadAbortedText;
  } else if (error.empty()) {
    if (d.size > 0 && d.received != d.size) {
      // The connection ended before the announced length: a partial file
      // is not a download.
      error = ReadFailedText(d.fileName, ShortBodyDetail(d.received, d.size));
    } else if (d.received == 0) {
      error = IsHttpErrorStatus(d.status) ? d.StatusError() : NotFoundText(d.url);
    } else if (IsHttpErrorStatus(d.status) && !(sink.isErrorPage && sink.isErrorPage())) {
      // An error page is left to the caller, who tells the user it was not
      // found; any other answer of a failed request is no file either.
      error = d.StatusError();
    }
  }
  if (error.empty() && sink.keep) {
    const std::string failed = sink.keep(d.received);
    if (!failed.empty()) error = ReadFailedText(d.fileName, failed);
  }
  // A failed download leaves nothing behind; an old target stays.
  if (!error.empty() && sink.discard) sink.discard();
  return error;
}

}  // namespace

DownloadResult HTTP_DownloadFile_Incremental(HWND owner, const std::string& url, const std::string& target,
                                             const std::string& user, const std::string& password,
                                             TProgBar* progress, std::int64_t expected,
                                             std::int64_t maxBytes) {
  DownloadResult result;
  std::string openFailure;
  ResolveAll();
  {
    // Its handles are closed before the debug line.
    Download d(url);
    result.error = OpenDownload(d, user, password, maxBytes);
    openFailure = d.openFailure;
    if (result.error.empty()) {
      if (reinterpret_cast<std::uintptr_t>(owner) > 10) ::ShowWindow(owner, SW_SHOW);
      const DownloadSink sink = target.empty() ? MemorySink(result.body) : SideFileSink(target, d.size, d.date);
      std::string error = ReadBody(d, sink, progress, expected, maxBytes);
      result.error = ConcludeDownload(d, sink, std::move(error));
    }
  }
  if (!result.error.empty())
    DebugLine(PidText() + " HTTP_DownloadFile_Incremental: " + result.error +
              (openFailure.empty() ? std::string() : " (" + openFailure + ")"));
  return result;
}

DownloadResult HTTP_DownloadFile(HWND owner, const std::string& url, const std::string& target,
                                 TProgBar* progress, std::int64_t expected, std::int64_t maxBytes) {
  return HTTP_DownloadFile_Incremental(owner, url, target, std::string(), std::string(), progress, expected,
                                       maxBytes);
}

bool IsInternetConnected(std::string* error) {
  auto fn = Fn<decltype(&::InternetGetConnectedState)>(kGetConnectedState);
  DWORD flags = 0;
  if (fn && fn(&flags, 0)) return true;
  const DWORD code = ::GetLastError();
  if (error) *error = SystemErrorText(code);
  return false;
}

void SetDownloadAbort(bool abort) { g_abort = abort; }
bool DownloadAborted() { return g_abort; }

void FreeWinInet() {
  // A worker still inside a call given up on would wake in unmapped code;
  // the library then stays until the process ends.
  if (g_workers > 0)
    g_inet.module.release();
  else
    g_inet.module.reset();
  std::fill(std::begin(g_inet.procs), std::end(g_inet.procs), nullptr);
  std::fill(std::begin(g_inet.looked), std::end(g_inet.looked), false);
}

}  // namespace havrek
