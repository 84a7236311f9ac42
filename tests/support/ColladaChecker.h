// A structural check of the COLLADA documents the program writes: the
// document parses, ids are unique, every "#id" reference resolves, array
// counts match their contents, each primitive's index list holds exactly
// what its counts and inputs announce, and every index lies below the count
// of the accessor it reads. Answers the problems found (none: empty).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace collada {

struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;
  std::vector<std::unique_ptr<Element>> children;
  const Element *Child(const std::string &child) const;
  std::vector<const Element *> Children(const std::string &child) const;
};

// Parses the document; nullptr with the reason in `error`.
std::unique_ptr<Element> Parse(const std::string &document, std::string *error);

// Every problem of the document, one line each.
std::vector<std::string> CheckDocument(const std::string &document);

// Primitive counts by element name ("triangles", "polylist", "lines"),
// summed over the document; the same numbers a reader reports.
std::map<std::string, long> PrimitiveCounts(const std::string &document);

} // namespace collada
