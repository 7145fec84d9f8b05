// The text and arithmetic side of the HTTP download: address forms, the
// side file, the progress steps, the error texts and telling an HTML error
// page from a real download. No network here, so all of it runs natively.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

// ---- Addresses ----

// True when the URL opens with a scheme ("http://", "https://", "ftp://" ...).
bool HasUrlScheme(const std::string& url);
// The form opened without credentials: unchanged when it has a scheme,
// otherwise with "http://" in front.
std::string HttpUrl(const std::string& url);

// Where a request with credentials goes: plain HTTP, or TLS for an https
// address; the scheme's port unless the host names its own.
struct HttpTarget {
  std::string host;         // empty when the URL has no "/" after the host
  std::uint16_t port = 80;  // 443 for https
  std::string path;         // after the first "/", without it
  bool secure = false;      // https: the request goes through TLS
};
HttpTarget CredentialTarget(const std::string& url);

// The part after the last "/": the file's name in messages.
std::string UrlFileName(const std::string& url);

// ---- Side file ----

// target + "." + (size + date) as a 32-bit unsigned number.
std::string SideFileName(const std::string& target, std::int64_t size, std::uint32_t dosDate);
// True when `name` is a left-over of an earlier download of `targetName`:
// the target's name (case-blind), a dot and decimal digits, the only form a
// side file takes. The target itself never is, nor a file of the user's such
// as "setup.log" beside a target "setup".
bool IsLeftOverName(const std::string& targetName, const std::string& name);

// ---- Bodies of unknown length ----

// Room a body without a length may take beyond the size the caller expects
// (a rebuilt package grows a little), before the transfer is taken for a
// server that never stops.
inline constexpr std::int64_t kUnknownLengthSlack = 1048576;
// The most bytes accepted from a body of unknown length when `expected`
// bytes are announced elsewhere (the package's record): a quarter more plus
// the slack. -1 (no limit) when nothing is expected.
std::int64_t UnknownLengthLimit(std::int64_t expected);

// ---- Bounds ----

// Every fetch has a deadline: a floor, plus the time its bytes take at a
// minimum rate (the announced length, or what has arrived when none is
// announced). A trickling server cannot hold a fetch for ever, and a large
// package on a slow line still has its time.
inline constexpr std::int64_t kFetchFloorMs = 180000;
inline constexpr std::int64_t kFetchMinBytesPerSecond = 2048;
// The floor, or the milliseconds in HAVREK_FETCH_FLOOR_MS when that holds a
// number above 0 (tests use it to see the deadline within seconds).
std::int64_t FetchFloorMs();
// How long a fetch of `bytes` may take, in milliseconds.
std::int64_t FetchAllowedMs(std::int64_t floorMs, std::int64_t bytes);
// The detail of a fetch given up at its deadline.
std::string DeadlineDetail(std::int64_t received, std::int64_t elapsedMs);
// The detail of a body refused or stopped for its size.
std::string TooLargeDetail(std::int64_t size, std::int64_t limit);

// ---- Reading ahead ----

// What a read may ask for beyond what has arrived: the bytes the transfer
// brought in aheadMs at its mean rate so far. A link that fast delivers them
// within about that time, so the read does not stall the windows; on a slow
// link it is less than what has arrived, and nothing is asked beyond it.
// 0 before the first millisecond has passed.
std::int64_t ReadAheadBytes(std::int64_t received, std::int64_t elapsedMs, std::int64_t aheadMs);

// ---- Progress ----

// The bar's maximum is 16 bits wide, and every step costs a round of message
// serving: a download never announces more steps than this.
inline constexpr std::int64_t kMaxProgressSteps = 1000;

// The progress range of a download of `size` bytes (-1: unknown, taken as
// the largest 32-bit size). Small files move in about ten steps.
struct ProgressPlan {
  std::int64_t stepBytes = 1;
  std::int64_t steps = 0;      // the bar runs from position 1 to steps + 1
  std::int32_t maximum = 1;
  // Steps completed once `received` bytes are in.
  std::int64_t StepsDone(std::int64_t received) const;
};
ProgressPlan PlanProgress(std::int64_t size);

// ---- Error texts ----

inline constexpr char kInitFailedText[] = "Unable to initialize \"WinINet.dll\"";
inline constexpr char kDownloadAbortedText[] = "Download Aborted";
std::string OpenFailedText(const std::string& url);
std::string NotFoundText(const std::string& url);
// fileName + " --- Error downloading file", with " (" + detail + ")" when
// there is a detail.
std::string ReadFailedText(const std::string& fileName, const std::string& detail);
// The detail of a body that ended before its announced length.
std::string ShortBodyDetail(std::int64_t received, std::int64_t size);
// The detail of a body of unknown length stopped at its limit.
std::string LongBodyDetail(std::int64_t received, std::int64_t expected);
// Statuses from 400 up: the server refused or failed the request.
bool IsHttpErrorStatus(int status);
// "HTTP 500", with the server's reason after it when there is one.
std::string HttpStatusDetail(int status, const std::string& reason);

// ---- Error pages ----

inline constexpr std::size_t kErrorPageProbe = 1000;

// Whether the first 1000 bytes look like an HTML error page: a title holding
// "404", or a page that opens with <HTML>, <HEAD> and a <TITLE> (so any HTML
// page counts). A file that exists is read in place of the bytes.
bool IsErrorPageBytes(const std::string& bytes);
bool IsErrorPage(const std::string& file, const std::string& bytes);

// When IsErrorPage holds, replaces message with the mark-up text that tells
// the user the file was not found, and answers true; otherwise leaves it.
bool NotFoundMessage(const std::string& file, const std::string& bytes, const std::string& url,
                     std::string& message);

}  // namespace havrek
