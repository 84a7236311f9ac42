// Whether a file's name ends in an extension, in any case (".XYZ" is
// ".xyz"): a reader's detector takes a file its name marks as its format on
// the layout alone, and lets the reader name what is wrong.
#pragma once

#include "import/ImportText.h"

#include <initializer_list>
#include <string_view>

inline bool NameEndsWith(std::string_view name, std::initializer_list<std::string_view> endings) {
  for (std::string_view e : endings)
    if (name.size() >= e.size() && ImportEqualNoCase(name.substr(name.size() - e.size()), e))
      return true;
  return false;
}
