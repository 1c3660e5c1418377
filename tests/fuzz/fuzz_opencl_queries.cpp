// queryInfoString against arbitrary runtime answers, and hasExtension over arbitrary
// lists and names. The first bytes choose the runtime's results and reported size; the
// rest is what it writes, and also the extension list and name.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "opencl_queries.h"

namespace {

struct Answer {
  cl_int sizeResult;
  cl_int dataResult;
  size_t reportedSize;
  std::string bytes;
};

Answer answer;

cl_int CL_API_CALL info(cl_device_id, cl_device_info, size_t valueSize, void* value,
                        size_t* valueSizeRet) {
  if (value == nullptr) {
    if (valueSizeRet != nullptr) *valueSizeRet = answer.reportedSize;
    return answer.sizeResult;
  }
  // Like a real runtime, never past the buffer it was given.
  std::memcpy(value, answer.bytes.data(), std::min(valueSize, answer.bytes.size()));
  return answer.dataResult;
}

std::string upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  answer.sizeResult = (data[0] & 1) ? CL_INVALID_VALUE : CL_SUCCESS;
  answer.dataResult = (data[0] & 2) ? CL_OUT_OF_RESOURCES : CL_SUCCESS;
  answer.reportedSize = data[1];
  answer.bytes.assign(reinterpret_cast<const char*>(data + 2), size - 2);

  const std::string value = queryInfoString(info, nullptr, CL_DEVICE_NAME);
  if (value.find('\0') != std::string::npos) std::abort();
  if (!value.empty() && value.size() >= answer.reportedSize) std::abort();
  if (!value.empty() && answer.bytes.compare(0, value.size(), value) != 0) std::abort();

  // The list is the answer's bytes up to the first 0xFF, the name what follows.
  const std::string rest = answer.bytes;
  const std::size_t cut = rest.find('\xFF');
  const std::string list = rest.substr(0, cut);
  const std::string name = cut == std::string::npos ? "" : rest.substr(cut + 1);
  const std::string cname = name.substr(0, name.find('\0'));
  const bool found = hasExtension(list, cname.c_str());
  if (found && (cname.empty() || cname.size() > list.size())) std::abort();
  if (found != hasExtension(upper(list), upper(cname).c_str())) std::abort();
  if (!cname.empty() && list.find(cname) != std::string::npos && !found) std::abort();
  return 0;
}
