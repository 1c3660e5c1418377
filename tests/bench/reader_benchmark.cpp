// How long the parent takes to judge a probe's output at the largest it reads (1 MiB) in the
// shapes that cost a reader most, and, for scale, how long nlohmann's callback parser (what the
// parent read with before) takes on smaller ones of the same shapes. Prints one line per case:
// name, size in bytes, verdict, fastest of the runs in milliseconds. Last, for scale, the pick
// over the largest inventory, asked every need.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "gpu_inventory/inventory.h"
#include "gpu_inventory/pick.h"
#include "gpu_inventory/probe_documents.h"

namespace {

using namespace gpu_inventory;
using Json = nlohmann::ordered_json;

std::string objects(std::size_t size) {
  std::string text = "[{}";
  while (text.size() + 4 < size) text += ",{}";
  return text + "]\n";
}

std::string keys(std::size_t size) {
  std::string text = "{\"k0\":0";
  for (std::size_t i = 1; text.size() + 32 < size; ++i) text += ",\"k" + std::to_string(i) + "\":0";
  return text + "}\n";
}

const std::string adapter =
    R"({"index":0,"name":"A","vendorId":1,"deviceId":2,"dedicatedVideoMemory":3,"luidLowPart":4,"luidHighPart":-5,"isIntegratedGpu":true})";

std::string adapters(std::size_t count, const std::string& name = "A") {
  std::string text = R"({"schema":1,"dxcoreAvailable":true,"adapters":[)";
  std::string item = adapter;
  item.replace(item.find("\"A\""), 3, "\"" + name + "\"");
  for (std::size_t i = 0; i < count; ++i) {
    // Each its own LUID: a LUID listed twice is garbled before the rest is read.
    std::string numbered = item;
    numbered.replace(numbered.find("\"luidLowPart\":4"), 15, "\"luidLowPart\":" + std::to_string(i));
    text += (i ? "," : "") + numbered;
  }
  return text + "]}\n";
}

double fastestMs(const std::function<void()>& body, int runs) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    best = std::min(best, std::chrono::duration<double, std::milli>(
                              std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

void timeReader(const char* name, const std::string& output, int runs) {
  ChildRun child;
  child.started = true;
  child.exitCode = 0;
  child.output = output;
  Outcome outcome = Outcome::notRun;
  const double ms = fastestMs([&] { outcome = readFennelRun(child).run.outcome; }, runs);
  std::printf("%-36s %8zu %-10s %10.2f\n", name, output.size(), outcomeName(outcome), ms);
}

// The parse the parent made before: the callback parser, with a set of keys per open object.
void timeCallbackParser(const char* name, const std::string& output, int runs) {
  const double ms = fastestMs([&] {
    std::vector<std::set<std::string>> seen;
    const Json::parser_callback_t check = [&seen](int, Json::parse_event_t event, Json& parsed) {
      if (event == Json::parse_event_t::object_start) seen.emplace_back();
      if (event == Json::parse_event_t::object_end) seen.pop_back();
      if (event == Json::parse_event_t::key) seen.back().insert(parsed.get<std::string>());
      return true;
    };
    const Json parsed = Json::parse(output.substr(0, output.size() - 1), check);
    if (parsed.is_discarded()) std::abort();
  }, runs);
  std::printf("%-36s %8zu %-10s %10.2f\n", name, output.size(), "-", ms);
}

// pickAdapter over 64 adapters joined from fennel's document alone (no capabilities: each
// Direct3D need is unknown, every reason is reached but the Direct3D ones).
void timePick(int runs) {
  ChildRun child;
  child.started = true;
  child.exitCode = 0;
  child.output = adapters(64);
  const Inventory inventory = joinInventory(readFennelRun(child), {}, std::vector<BrindleRun>(64));
  PickRequest request;
  request.needs = {true, 1ull << 30, Direct3dNeed{}, Direct3dNeed{FeatureLevel::level12_0}, ShaderModel{6, 2}, true,
                   true};
  std::size_t candidates = 0;
  const double ms = fastestMs([&] { candidates = pickAdapter(inventory, request).candidates.size(); }, runs);
  std::printf("%-36s %8zu %-10s %10.3f\n", "pick over 64 adapters, every need", candidates, "-", ms);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 10;
  std::printf("%-36s %8s %-10s %10s\n", "case", "bytes", "verdict", "ms");
  timeReader("[{},{},...]", objects(maxProbeOutput), runs);
  timeReader("{\"k0\":0,\"k1\":0,...}", keys(maxProbeOutput), runs);
  timeReader("one adapter named by 1 MiB", adapters(1, std::string(maxProbeOutput - 200, 'a')), runs);
  timeReader("64 adapters", adapters(64), runs);
  timeCallbackParser("callback parser, [{},...] 64 KiB", objects(64 * 1024), 1);
  timeCallbackParser("callback parser, [{},...] 128 KiB", objects(128 * 1024), 1);
  timeCallbackParser("callback parser, keys 64 KiB", keys(64 * 1024), 1);
  timeCallbackParser("callback parser, keys 128 KiB", keys(128 * 1024), 1);
  timePick(runs);
  return 0;
}
