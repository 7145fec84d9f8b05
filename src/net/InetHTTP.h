// HTTP downloads over the system's WinINet, on the user-interface thread.
// The library and every function of it are looked up by name on first use
// (the stub imports nothing from it) and released by FreeWinInet at exit.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "net/HProgBar.h"
#include "net/InetText.h"
#include "util/WinHandle.h"

namespace havrek {

inline constexpr char kSizeAgent[] = "HTTP_Connect_2";      // size query and warm-up
inline constexpr char kDownloadAgent[] = "HTTP_Connect_3";
inline constexpr DWORD kDownloadTimeoutMs = 180000;

// Closes through the dynamically loaded InternetCloseHandle.
void CloseInternetHandle(HINTERNET h);
struct InternetHandleTraits {
  using type = HINTERNET;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) { CloseInternetHandle(h); }
};
using InternetHandle = UniqueHandle<InternetHandleTraits>;

// An open request. With credentials it hangs off a connection of its own;
// the request is closed before it.
struct UrlRequest {
  InternetHandle connection;
  InternetHandle request;
  explicit operator bool() const { return static_cast<bool>(request); }
};

// Without a user name the URL is opened as it is (with "http://" in front
// when it has no scheme); with one, a GET goes to the host on port 80 (or the
// host's own port) with the credentials. Always past the cache.
UrlRequest HTTP_OpenUrl(HINTERNET internet, const std::string& url, const std::string& user,
                        const std::string& password);
// Asks for the URL's headers once on a handle of its own, so that the real
// request meets a dialled-up line and a warm proxy.
void HTTP_Touch(const std::string& url);
void HTTP_SetTimeouts(HINTERNET internet, DWORD ms);
// Content-Length, or -1 when absent or unreadable.
std::int64_t HTTP_GetContentLength(HINTERNET request);
// Last-Modified as a packed DOS date-time (date high), 0 when absent.
std::uint32_t HTTP_GetFileDate(HINTERNET request);

// Content-Length of the URL, or -1 when absent or the URL does not open.
std::int64_t HTTP_GetFileSize(const std::string& url);

struct DownloadResult {
  std::string body;   // the bytes, when no target file was given
  std::string error;  // empty on success
};

// Fetches the URL into target (through a side file that takes the target's
// name only once the whole body is in) or, with an empty target, into the
// result's body. A body without Content-Length counts as whole when the
// transfer ends cleanly; `expected` (the size the caller was told, -1 when
// none) bounds it. Every failure removes the side file and leaves an old
// target as it was. A failed request (status 400 and up) is an error unless
// it answered with an HTML page, which the caller tells apart with
// IsErrorPage. owner (a handle above 10) is shown first; progress may be
// null. Reads poll DownloadAborted and only take what has arrived, so each
// returns at once. maxBytes (-1: none) bounds the body: a longer
// Content-Length is refused before anything is read, a longer body stopped
// there. Every fetch ends by its deadline (FetchAllowedMs).
DownloadResult HTTP_DownloadFile_Incremental(HWND owner, const std::string& url, const std::string& target,
                                             const std::string& user, const std::string& password,
                                             TProgBar* progress, std::int64_t expected = -1,
                                             std::int64_t maxBytes = -1);
DownloadResult HTTP_DownloadFile(HWND owner, const std::string& url, const std::string& target,
                                 TProgBar* progress, std::int64_t expected = -1, std::int64_t maxBytes = -1);

// False with the system's reason when it reports no connection.
bool IsInternetConnected(std::string* error = nullptr);

// Raised when the main window closes; a running download stops after the
// read under way.
void SetDownloadAbort(bool abort);
bool DownloadAborted();

// Releases the library; once, when the program ends.
void FreeWinInet();

}  // namespace havrek
