#include "console/title.h"

std::string JoinTitle(const std::string& artist, const std::string& album,
                      const std::string& title) {
  std::string joined;
  for (const std::string* part : {&artist, &album, &title}) {
    if (part->empty()) continue;
    if (!joined.empty()) joined += " - ";
    joined += *part;
  }
  return joined;
}

std::string NameOfPath(const std::string& path) {
  std::string name = path;
  const size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}
