#include "progress_line.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

namespace gpu_inventory {

namespace {

using std::chrono::seconds;

// Control characters made spaces: a driver's adapter name can hold a line feed, which would
// break the line in two, or a carriage return, which would overwrite it.
std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      out += ' ';
    } else if (byte == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out += ' ';  // U+0080 to U+009F, the second set of control characters
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The East Asian wide ranges take two cells of a console; counting a few too many as wide
// only cuts a line sooner.
std::size_t cellsOf(char32_t c) {
  const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                    (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                    (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                    (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                    (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
  return wide ? 2 : 1;
}

// The longest start of `line` that fits in `cells`, never splitting a UTF-8 sequence.
std::string fit(const std::string& line, std::size_t cells, std::size_t& taken) {
  taken = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    const auto lead = static_cast<unsigned char>(line[i]);
    std::size_t length = 1;
    while (length < 4 && i + length < line.size() && continuation(line[i + length])) ++length;
    char32_t c = length == 1 ? lead : (lead & (0x7Fu >> length));
    for (std::size_t k = 1; k < length; ++k) {
      c = (c << 6) | (static_cast<unsigned char>(line[i + k]) & 0x3Fu);
    }
    const std::size_t width = cellsOf(c);
    if (taken + width > cells) break;
    taken += width;
    i += length;
  }
  return line.substr(0, i);
}

}  // namespace

std::string limitText(std::chrono::milliseconds timeout) {
  const long long ms = std::max<long long>(timeout.count(), 0);
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) {
    std::string fraction = std::to_string(ms % 1000);
    fraction.insert(0, 3 - fraction.size(), '0');
    fraction.erase(fraction.find_last_not_of('0') + 1);
    text += "." + fraction;
  }
  return text;
}

std::string progressLine(const std::vector<RunUnderWay>& runs, ProgressClock::time_point now) {
  const auto longest = std::min_element(
      runs.begin(), runs.end(),
      [](const RunUnderWay& a, const RunUnderWay& b) { return a.start < b.start; });
  if (longest == runs.end() || now - longest->start < progressDelay) return "";
  const long long waited = std::chrono::duration_cast<seconds>(now - longest->start).count();
  std::string line = "waiting for " + printable(longest->purpose) + ": " +
                     std::to_string(waited) + " s of " + limitText(longest->timeout) + " s";
  if (runs.size() > 1) line += " (and " + std::to_string(runs.size() - 1) + " more)";
  return line;
}

std::string ConsoleLine::rewrite(const std::string& line, std::size_t columns) {
  const std::size_t room = columns > 0 ? columns - 1 : 0;
  if (line.empty()) {
    if (shown_ == 0) return "";
    std::string text = "\r" + std::string(std::min(shown_, room), ' ') + "\r";
    shown_ = 0;
    return text;
  }
  std::size_t taken = 0;
  std::string text = "\r" + fit(line, room, taken);
  if (shown_ > taken) text.append(std::min(shown_, room) - taken, ' ');
  shown_ = taken;
  return text;
}

ProgressBoard::RunId ProgressBoard::begin(std::string purpose, std::chrono::milliseconds timeout,
                                          ProgressClock::time_point start) {
  std::lock_guard<std::mutex> hold(mutex_);
  runs_.reserve(runs_.size() + 1);
  ids_.reserve(ids_.size() + 1);
  runs_.push_back({std::move(purpose), start, timeout});
  ids_.push_back(++next_);
  return next_;
}

void ProgressBoard::end(RunId id) noexcept {
  try {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto found = std::find(ids_.begin(), ids_.end(), id);
    if (found == ids_.end()) return;
    runs_.erase(runs_.begin() + (found - ids_.begin()));
    ids_.erase(found);
  } catch (...) {
    // The lock failed: the run stays named, which misleads no one for long.
  }
}

std::vector<RunUnderWay> ProgressBoard::runs() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return runs_;
}

void ProgressBoard::tick(const std::function<void(const std::string& line)>& show) {
  std::string shown;
  std::optional<ProgressClock::time_point> shownAt;
  std::unique_lock<std::mutex> hold(mutex_);
  while (!stopping_) {
    const ProgressClock::time_point now = ProgressClock::now();
    std::string line = progressLine(runs_, now);
    if (line != shown && (!shownAt || now - *shownAt >= seconds(1))) {
      hold.unlock();  // a console write can block (a selection in it); runs go on meanwhile
      show(line);
      hold.lock();
      shown = std::move(line);
      shownAt = now;
    }
    // The line changes when the longest run reaches its next whole second (or the delay).
    ProgressClock::time_point wake = now + seconds(1);
    const auto longest = std::min_element(
        runs_.begin(), runs_.end(),
        [](const RunUnderWay& a, const RunUnderWay& b) { return a.start < b.start; });
    if (longest != runs_.end()) {
      const auto waited = now - longest->start;
      wake = waited < progressDelay
                 ? longest->start + progressDelay
                 : longest->start + std::chrono::duration_cast<seconds>(waited) + seconds(1);
    }
    if (shownAt) wake = std::max(wake, *shownAt + seconds(1));
    stopped_.wait_until(hold, wake, [this] { return stopping_.load(); });
  }
  hold.unlock();
  if (!shown.empty()) show("");
}

void ProgressBoard::stop() noexcept {
  try {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  } catch (...) {
    stopping_ = true;  // seen at the ticker's next wake, within a second
  }
  stopped_.notify_all();
}

ProbeRunner runnerOnBoard(ProgressBoard& board, ProbeRunner inner) {
  return [&board, inner = std::move(inner)](const ProbeRequest& request) {
    std::optional<ProgressBoard::RunId> id;
    try {
      id = board.begin(request.purpose, request.timeout);
    } catch (const std::exception&) {
      // Not shown, but run all the same.
    }
    struct OffTheBoard {
      ProgressBoard& board;
      const std::optional<ProgressBoard::RunId>& id;
      ~OffTheBoard() {
        if (id) board.end(*id);
      }
    } off{board, id};
    return inner(request);
  };
}

}  // namespace gpu_inventory
