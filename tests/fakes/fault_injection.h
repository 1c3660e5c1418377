#pragma once
// Fault injection for the fakes: every platform call of a fake reports itself by name, and
// the one armed call fails in the armed way. The fault sweeps use the names seen in a
// clean run to generate one failing run per call and way.

#include <string>
#include <vector>

namespace faults {

enum class Fault {
  none,
  errorCode,     // the call returns an error code
  successCode,   // the call returns a success code other than the plain one (S_FALSE)
  nullOut,       // success, but a null out pointer (a missing symbol or object)
  zeroCount,     // success with a count of zero
  shrinkCount,   // the second call writes fewer items than asked for
  unterminated,  // a string without its terminating zero
  dataError,     // the size query succeeds, the data query fails
};

const char* name(Fault fault);

// occurrence 0 arms every call of that name; n arms only the n-th (from 1).
void arm(const std::string& call, Fault fault, int occurrence = 0);
void disarm();  // also forgets the calls seen

// Called by a fake at each platform call: records the name, returns the fault to apply.
Fault at(const std::string& call);

// Names of the calls made since the last disarm, each once, in first-seen order.
const std::vector<std::string>& seen();

// Names of every call made since the last disarm, in order, repeats included.
const std::vector<std::string>& history();

// Names of the calls made more than once since the last disarm.
std::vector<std::string> repeated();

}  // namespace faults
