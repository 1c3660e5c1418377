#pragma once
// Platform calls that put the probe's crash handlers back as soon as they return. Any call into
// a runtime, a driver, a layer or the system DLLs they bring may load code that installs crash
// handlers of its own; every entry of the platform tables goes through one of these, so that
// no call is left out.

#include <type_traits>

#include "output_guard.h"

namespace reclaiming_detail {

template <typename T>
struct AsDeclared {
  using type = T;
};

// The arguments pass as the function declares them, not as deduced from the call.
template <typename Result, typename... Arguments>
Result callThenReclaim(Result (*function)(Arguments...),
                       typename AsDeclared<Arguments>::type... arguments) {
  if constexpr (std::is_void_v<Result>) {
    function(arguments...);
    reclaimCrashHandlers();
  } else {
    Result result = function(arguments...);
    reclaimCrashHandlers();
    return result;
  }
}

}  // namespace reclaiming_detail

// A function known when the program is built: the Windows calls of a main_windows.cpp, the
// Vulkan loader's entry points.
template <auto Function>
struct Reclaiming;

template <typename Result, typename... Arguments, Result (*Function)(Arguments...)>
struct Reclaiming<Function> {
  static Result call(Arguments... arguments) {
    return reclaiming_detail::callThenReclaim(Function, arguments...);
  }
};

template <auto Function>
constexpr auto reclaiming = &Reclaiming<Function>::call;

// A function found at run time (a runtime's export), bound to a slot: any constant that names
// the entry point, such as the member of the table that holds it. Calls go through one fixed
// function per slot, which calls the pointer bound last; a run binds each entry point before
// its calls and makes them from one thread.
template <auto Slot, typename Function>
struct ReclaimingPointer;

template <auto Slot, typename Result, typename... Arguments>
struct ReclaimingPointer<Slot, Result (*)(Arguments...)> {
  static inline Result (*target)(Arguments...) = nullptr;
  static Result call(Arguments... arguments) {
    return reclaiming_detail::callThenReclaim(target, arguments...);
  }
};

// The function to call instead of the one found; null stays null.
template <auto Slot, typename Function>
Function reclaimingPointer(Function found) {
  ReclaimingPointer<Slot, Function>::target = found;
  return found != nullptr ? &ReclaimingPointer<Slot, Function>::call : nullptr;
}
