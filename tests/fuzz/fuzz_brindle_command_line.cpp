// brindle's whole run over arbitrary argument vectors (split at NUL bytes; a lone 0x01
// byte stands for a null entry), against fake platforms that find the adapter and one
// OpenCL platform. The run never crashes and always prints one of its documents.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "brindle_run.h"
#include "fake_brindle_platform.h"
#include "fake_opencl.h"
#include "fake_process.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(1, "brindle.exe");
  words.emplace_back();
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.emplace_back();
    } else {
      words.back() += static_cast<char>(data[i]);
    }
  }
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w == "\x01" ? nullptr : w.c_str());

  fake_brindle::reset();
  fake_opencl::runtime().platforms.emplace_back();
  int exitCode = -1;
  const BrindlePlatform platform = fake_brindle::platform();
  // The run writes its document through the fake process; nothing else may reach stdout.
  const std::string stray = printedBy(
      [&] { exitCode = runBrindle(static_cast<int>(argv.size()), argv.data(), platform); });
  const std::string out = fake_process::process().written;
  if (!stray.empty()) std::abort();

  if (out.empty() || out.back() != '\n' || out.find('\n') != out.size() - 1) std::abort();
  const auto doc = nlohmann::json::parse(out, nullptr, false);
  if (doc.is_discarded() || doc["schema"] != 1) std::abort();
  const bool usage = doc.contains("error") && doc["error"]["code"] == "invalid_args";
  if (usage != (exitCode == 2)) std::abort();
  if (!usage && exitCode != 0 && exitCode != 1) std::abort();
  if (!usage && doc.value("reason", "") != "no_match") std::abort();
  return 0;
}
