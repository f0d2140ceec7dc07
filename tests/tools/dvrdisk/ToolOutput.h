#pragma once
// Runs dvrdisk in-process and keeps its exit status, its JSON and its messages.

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sstream>
#include <string>
#include <vector>

#include "tools/dvrdisk/DvrDiskTool.h"

namespace rd::dvrdisk {

struct Output {
  int status;
  QJsonObject json;
  std::string err;
};

inline Output Tool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = Run(args, out, err);
  return {status, QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object(),
          err.str()};
}

}  // namespace rd::dvrdisk
