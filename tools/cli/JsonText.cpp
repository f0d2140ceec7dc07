#include "tools/cli/JsonText.h"

#include <sstream>

namespace rd::cli {
namespace {

// Text that is not UTF-8 (a file name, say) becomes U+FFFD rather than an
// exception or invalid JSON.
std::string Scalar(const Json& j) {
  if (j.is_number_float()) {
    std::ostringstream o;
    o << j.get<double>();
    return o.str();
  }
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool ArrayOfObjects(const Json& j) {
  return j.is_array() && !j.empty() && j.front().is_object();
}

void Write(const Json& j, int depth, bool lines, std::string* out) {
  if (!j.is_structured()) {
    *out += Scalar(j);
    return;
  }
  const bool object = j.is_object();
  const bool own_lines = lines && (depth == 0 || ArrayOfObjects(j));
  const std::string indent = "\n" + std::string(depth + 1, ' ');
  // An array on lines has its brackets on lines of their own as well.
  const bool open_lines = own_lines && !object;
  *out += object ? '{' : '[';
  if (open_lines && !j.empty()) *out += indent;
  bool first = true;
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (!first) *out += own_lines ? "," + indent : ", ";
    first = false;
    if (object) *out += Scalar(Json(it.key())) + ": ";
    Write(*it, depth + 1, lines, out);
  }
  if (open_lines) *out += "\n" + std::string(depth, ' ');
  *out += object ? '}' : ']';
}

}  // namespace

std::string CompactJson(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string SpacedJson(const Json& j, bool lines) {
  std::string out;
  Write(j, 0, lines, &out);
  return out;
}

}  // namespace rd::cli
