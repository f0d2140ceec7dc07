#pragma once
// The JSON the tools print: documents built with nlohmann::ordered_json (keys
// stay in the order they were set), written in one of two layouts.

#include <nlohmann/json.hpp>

#include <string>

namespace rd::cli {

using Json = nlohmann::ordered_json;

// No blanks at all: {"a":1,"b":[1,2]} (dvrdisk).
std::string CompactJson(const Json& j);

// Blanks after ':' and ',': {"a": 1, "b": [1, 2]} (dvrctl). With `lines`
// every member of the outermost value and every object of an array of
// objects starts a line of its own, and such an array's closing bracket too.
// Floating-point numbers get six significant digits.
std::string SpacedJson(const Json& j, bool lines = false);

}  // namespace rd::cli
