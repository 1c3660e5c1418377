#include "fault_injection.h"

#include <algorithm>
#include <map>

namespace faults {

namespace {

struct State {
  std::string call;
  Fault fault = Fault::none;
  int occurrence = 0;
  std::map<std::string, int> counts;
  std::vector<std::string> seen;
  std::vector<std::string> history;
};

State& state() {
  static State instance;
  return instance;
}

}  // namespace

const char* name(Fault fault) {
  switch (fault) {
    case Fault::none: return "none";
    case Fault::errorCode: return "errorCode";
    case Fault::successCode: return "successCode";
    case Fault::nullOut: return "nullOut";
    case Fault::zeroCount: return "zeroCount";
    case Fault::shrinkCount: return "shrinkCount";
    case Fault::unterminated: return "unterminated";
    case Fault::dataError: return "dataError";
  }
  return "?";
}

void arm(const std::string& call, Fault fault, int occurrence) {
  disarm();
  state().call = call;
  state().fault = fault;
  state().occurrence = occurrence;
}

void disarm() { state() = State{}; }

Fault at(const std::string& call) {
  State& s = state();
  const int count = ++s.counts[call];
  s.history.push_back(call);
  if (std::find(s.seen.begin(), s.seen.end(), call) == s.seen.end()) s.seen.push_back(call);
  if (call != s.call) return Fault::none;
  return s.occurrence == 0 || s.occurrence == count ? s.fault : Fault::none;
}

const std::vector<std::string>& seen() { return state().seen; }

const std::vector<std::string>& history() { return state().history; }

std::vector<std::string> repeated() {
  std::vector<std::string> names;
  for (const auto& [call, count] : state().counts) {
    if (count > 1) names.push_back(call);
  }
  return names;
}

}  // namespace faults
