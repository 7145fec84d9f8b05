#include "net/InetText.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <limits>

#include "files/Files.h"
#include "platform/Platform.h"
#include "util/Utils.h"

namespace havrek {

namespace {

bool IsSchemeChar(char c, bool first) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (std::isalpha(u) && u < 0x80) return true;
  return !first && ((u >= '0' && u <= '9') || c == '+' || c == '-' || c == '.');
}

std::int64_t EffectiveSize(std::int64_t size) { return size < 0 ? std::int64_t{0xFFFFFFFF} : size; }

// Rounded up without adding to n first: a server may announce any length up
// to the largest 64-bit one.
std::int64_t DivideRoundingUp(std::int64_t n, std::int64_t d) { return n / d + (n % d != 0 ? 1 : 0); }

}  // namespace

bool HasUrlScheme(const std::string& url) {
  const std::size_t colon = url.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  for (std::size_t i = 0; i < colon; ++i)
    if (!IsSchemeChar(url[i], i == 0)) return false;
  return true;
}

std::string HttpUrl(const std::string& url) { return HasUrlScheme(url) ? url : "http://" + url; }

HttpTarget CredentialTarget(const std::string& url) {
  // Only the leading scheme goes: an "http://" further on belongs to the
  // path or the query.
  HttpTarget t;
  t.secure = StartsWith("https://", url, true);
  if (t.secure) t.port = 443;
  std::string rest = url;
  if (t.secure)
    rest.erase(0, 8);
  else if (StartsWith("http://", url, true))
    rest.erase(0, 7);
  const std::size_t slash = rest.find('/');
  if (slash == std::string::npos) return t;
  t.host = rest.substr(0, slash);
  t.path = rest.substr(slash + 1);
  const std::size_t colon = t.host.rfind(':');
  if (colon != std::string::npos) {
    std::int64_t port = 0;
    if (TryTextToInt64(t.host.substr(colon + 1), port) && port > 0 && port <= 65535) {
      t.port = static_cast<std::uint16_t>(port);
      t.host.erase(colon);
    }
  }
  return t;
}

std::string UrlFileName(const std::string& url) {
  const std::size_t slash = url.rfind('/');
  return slash == std::string::npos ? url : url.substr(slash + 1);
}

std::string SideFileName(const std::string& target, std::int64_t size, std::uint32_t dosDate) {
  const std::uint32_t sum = static_cast<std::uint32_t>(static_cast<std::uint64_t>(size) + dosDate);
  return target + "." + std::to_string(sum);
}

bool IsLeftOverName(const std::string& targetName, const std::string& name) {
  const std::size_t n = targetName.size();
  return name.size() > n + 1 && name[n] == '.' && name.find_first_not_of("0123456789", n + 1) == std::string::npos &&
         SameText(name.substr(0, n), targetName);
}

std::int64_t UnknownLengthLimit(std::int64_t expected) {
  if (expected <= 0) return -1;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const std::int64_t extra = expected / 4 + kUnknownLengthSlack;
  return expected > kMax - extra ? kMax : expected + extra;
}

std::int64_t FetchFloorMs() {
  const char* text = std::getenv("HAVREK_FETCH_FLOOR_MS");
  std::int64_t ms = 0;
  if (text && TryTextToInt64(text, ms) && ms > 0) return ms;
  return kFetchFloorMs;
}

std::int64_t FetchAllowedMs(std::int64_t floorMs, std::int64_t bytes) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  if (bytes > kMax / 1000) return kMax;
  const std::int64_t transfer = bytes <= 0 ? 0 : bytes * 1000 / kFetchMinBytesPerSecond;
  return floorMs > kMax - transfer ? kMax : floorMs + transfer;
}

std::string DeadlineDetail(std::int64_t received, std::int64_t elapsedMs) {
  return "given up after " + std::to_string(elapsedMs / 1000) + " s with " + std::to_string(received) +
         " bytes: slower than " + std::to_string(kFetchMinBytesPerSecond) + " bytes a second";
}

std::string TooLargeDetail(std::int64_t size, std::int64_t limit) {
  return std::to_string(size) + " bytes, more than the " + std::to_string(limit) + " taken";
}

std::int64_t ReadAheadBytes(std::int64_t received, std::int64_t elapsedMs, std::int64_t aheadMs) {
  if (received <= 0 || elapsedMs <= 0 || aheadMs <= 0) return 0;
  // In doubles: a huge count times the time cannot wrap.
  const double ahead = static_cast<double>(received) * static_cast<double>(aheadMs) / static_cast<double>(elapsedMs);
  constexpr double kMax = 4503599627370496.0;  // 2^52: exact in a double, far beyond any read
  return static_cast<std::int64_t>(std::min(ahead, kMax));
}

ProgressPlan PlanProgress(std::int64_t size) {
  const std::int64_t total = EffectiveSize(size);
  const std::int64_t chunk = std::clamp<std::int64_t>(total / 10, 1, 8192);
  ProgressPlan plan;
  plan.stepBytes = std::max(chunk, DivideRoundingUp(total, kMaxProgressSteps));
  plan.steps = DivideRoundingUp(total, plan.stepBytes);
  plan.maximum = static_cast<std::int32_t>(plan.steps + 1);
  return plan;
}

std::int64_t ProgressPlan::StepsDone(std::int64_t received) const {
  if (received <= 0) return 0;
  return std::min(steps, DivideRoundingUp(received, stepBytes));
}

std::string OpenFailedText(const std::string& url) { return "Unable to open Internet Connection: " + url; }

std::string NotFoundText(const std::string& url) { return url + " --- File Not Found !"; }

std::string ReadFailedText(const std::string& fileName, const std::string& detail) {
  std::string text = fileName + " --- Error downloading file";
  if (!detail.empty()) text += " (" + detail + ")";
  return text;
}

std::string ShortBodyDetail(std::int64_t received, std::int64_t size) {
  return "connection closed after " + std::to_string(received) + " of " + std::to_string(size) + " bytes";
}

std::string LongBodyDetail(std::int64_t received, std::int64_t expected) {
  return "stopped after " + std::to_string(received) + " bytes without a length; " + std::to_string(expected) +
         " bytes were expected";
}

bool IsHttpErrorStatus(int status) { return status >= 400; }

std::string HttpStatusDetail(int status, const std::string& reason) {
  const std::string text = "HTTP " + std::to_string(status);
  return reason.empty() ? text : text + " " + reason;
}

bool IsErrorPageBytes(const std::string& bytes) {
  const std::string s = UpperCase(bytes.substr(0, kErrorPageProbe));
  const auto inOrder = [&s](std::initializer_list<const char*> marks) {
    std::size_t from = 0;
    for (const char* mark : marks) {
      const std::size_t at = s.find(mark, from);
      if (at == std::string::npos) return false;
      from = at + std::char_traits<char>::length(mark);
    }
    return true;
  };
  return inOrder({"<TITLE", "404", "</TITLE>"}) || inOrder({"<HTML>", "<HEAD>", "<TITLE>", "</TITLE>"});
}

bool IsErrorPage(const std::string& file, const std::string& bytes) {
  if (!file.empty() && plat::Exists(file)) return IsErrorPageBytes(ReadFileText(file, kErrorPageProbe));
  return IsErrorPageBytes(bytes);
}

bool NotFoundMessage(const std::string& file, const std::string& bytes, const std::string& url,
                     std::string& message) {
  if (!IsErrorPage(file, bytes)) return false;
  message = "<B>404 File Not Found...</B><P><P>URL:  " + url + "." +
            "<P><P>Please make sure the file is available and access is allowed to this file.";
  return true;
}

}  // namespace havrek
