#include "ColladaChecker.h"

#include <cctype>
#include <functional>
#include <set>
#include <sstream>

namespace collada {

const Element *Element::Child(const std::string &child) const {
  for (const auto &c : children)
    if (c->name == child)
      return c.get();
  return nullptr;
}

std::vector<const Element *> Element::Children(const std::string &child) const {
  std::vector<const Element *> out;
  for (const auto &c : children)
    if (c->name == child)
      out.push_back(c.get());
  return out;
}

namespace {

class Parser {
public:
  explicit Parser(const std::string &s) : s_(s) {}
  std::unique_ptr<Element> Document(std::string *error) {
    Skip();
    if (s_.compare(at_, 5, "<?xml") == 0) {
      at_ = s_.find("?>", at_);
      if (at_ == std::string::npos)
        return Fail(error, "unterminated declaration");
      at_ += 2;
    }
    Skip();
    auto root = ElementAt(error);
    Skip();
    if (root && at_ != s_.size())
      return Fail(error, "text after the root element");
    return root;
  }

private:
  std::unique_ptr<Element> Fail(std::string *error, const std::string &why) {
    if (error->empty())
      *error = why + " at byte " + std::to_string(at_);
    return nullptr;
  }
  void Skip() {
    for (;;) {
      while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_])))
        at_++;
      if (s_.compare(at_, 4, "<!--") == 0) {
        const size_t end = s_.find("-->", at_);
        at_ = end == std::string::npos ? s_.size() : end + 3;
        continue;
      }
      return;
    }
  }
  std::string Name() {
    const size_t start = at_;
    while (at_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == '_' || s_[at_] == ':' ||
                               s_[at_] == '-' || s_[at_] == '.'))
      at_++;
    return s_.substr(start, at_ - start);
  }
  std::unique_ptr<Element> ElementAt(std::string *error) {
    if (at_ >= s_.size() || s_[at_] != '<')
      return Fail(error, "expected an element");
    at_++;
    auto e = std::make_unique<Element>();
    e->name = Name();
    if (e->name.empty())
      return Fail(error, "element without a name");
    for (;;) {
      while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_])))
        at_++;
      if (s_.compare(at_, 2, "/>") == 0) {
        at_ += 2;
        return e;
      }
      if (at_ < s_.size() && s_[at_] == '>') {
        at_++;
        break;
      }
      const std::string key = Name();
      if (key.empty() || at_ + 1 >= s_.size() || s_[at_] != '=' || s_[at_ + 1] != '"')
        return Fail(error, "bad attribute in <" + e->name + ">");
      const size_t end = s_.find('"', at_ + 2);
      if (end == std::string::npos)
        return Fail(error, "unterminated attribute");
      if (e->attributes.count(key))
        return Fail(error, "attribute " + key + " twice");
      e->attributes[key] = s_.substr(at_ + 2, end - at_ - 2);
      at_ = end + 1;
    }
    for (;;) {
      const size_t lt = s_.find('<', at_);
      if (lt == std::string::npos)
        return Fail(error, "unterminated <" + e->name + ">");
      e->text.append(s_, at_, lt - at_);
      at_ = lt;
      if (s_.compare(at_, 4, "<!--") == 0) {
        Skip();
        continue;
      }
      if (s_.compare(at_, 2, "</") == 0) {
        at_ += 2;
        if (Name() != e->name || at_ >= s_.size() || s_[at_] != '>')
          return Fail(error, "mismatched end of <" + e->name + ">");
        at_++;
        return e;
      }
      auto child = ElementAt(error);
      if (!child)
        return nullptr;
      e->children.push_back(std::move(child));
    }
  }
  const std::string &s_;
  size_t at_ = 0;
};

std::vector<std::string> Words(const std::string &text) {
  std::istringstream s(text);
  std::vector<std::string> out;
  for (std::string w; s >> w;)
    out.push_back(w);
  return out;
}

void Walk(const Element &e, const std::function<void(const Element &)> &f) {
  f(e);
  for (const auto &c : e.children)
    Walk(*c, f);
}

} // namespace

std::unique_ptr<Element> Parse(const std::string &document, std::string *error) {
  error->clear();
  return Parser(document).Document(error);
}

std::vector<std::string> CheckDocument(const std::string &document) {
  std::vector<std::string> problems;
  std::string error;
  auto root = Parse(document, &error);
  if (!root)
    return {"does not parse: " + error};
  if (root->name != "COLLADA" || root->attributes["version"] != "1.4.1")
    problems.push_back("root is not a COLLADA 1.4.1 element");

  std::map<std::string, const Element *> ids;
  Walk(*root, [&](const Element &e) {
    auto id = e.attributes.find("id");
    if (id != e.attributes.end() && !ids.emplace(id->second, &e).second)
      problems.push_back("id " + id->second + " twice");
  });
  auto resolve = [&](const std::string &ref) -> const Element * {
    if (ref.empty() || ref[0] != '#')
      return nullptr;
    auto it = ids.find(ref.substr(1));
    return it == ids.end() ? nullptr : it->second;
  };
  Walk(*root, [&](const Element &e) {
    for (const char *key : {"url", "source", "target"}) {
      auto a = e.attributes.find(key);
      if (a != e.attributes.end() && !resolve(a->second))
        problems.push_back("<" + e.name + " " + key + "=\"" + a->second + "\"> does not resolve");
    }
    for (const std::string &w : Words(e.text))
      if (w.find("nan") != std::string::npos || w.find("inf") != std::string::npos)
        problems.push_back("<" + e.name + "> holds " + w);
  });

  // Arrays and accessors.
  std::map<const Element *, long> accessorCount; // source -> count
  Walk(*root, [&](const Element &e) {
    if (e.name == "float_array") {
      const long n = static_cast<long>(Words(e.text).size());
      if (std::to_string(n) != e.attributes.at("count"))
        problems.push_back("float_array " + e.attributes.at("id") + " count " + e.attributes.at("count") + " holds " +
                           std::to_string(n));
    }
    if (e.name == "source") {
      const Element *tc = e.Child("technique_common");
      const Element *acc = tc ? tc->Child("accessor") : nullptr;
      const Element *array = e.Child("float_array");
      if (!acc || !array) {
        problems.push_back("source " + e.attributes.at("id") + " without array or accessor");
        return;
      }
      const long count = std::stol(acc->attributes.at("count")), stride = std::stol(acc->attributes.at("stride"));
      if (count * stride > std::stol(array->attributes.at("count")))
        problems.push_back("accessor of " + e.attributes.at("id") + " reads past its array");
      accessorCount[&e] = count;
    }
  });
  // The accessor count behind an input: a source, or the POSITION source of
  // a vertices element.
  auto countOf = [&](const std::string &ref) -> long {
    const Element *target = resolve(ref);
    if (target && target->name == "vertices")
      for (const Element *in : target->Children("input"))
        if (in->attributes.at("semantic") == "POSITION")
          target = resolve(in->attributes.at("source"));
    auto it = target ? accessorCount.find(target) : accessorCount.end();
    return it == accessorCount.end() ? -1 : it->second;
  };

  Walk(*root, [&](const Element &e) {
    if (e.name != "triangles" && e.name != "polylist" && e.name != "lines")
      return;
    const std::string where = e.name + " " + (e.attributes.count("material") ? e.attributes.at("material") : "");
    long stride = 0;
    std::vector<std::pair<long, long>> limits; // offset, accessor count
    for (const Element *in : e.Children("input")) {
      const long offset = std::stol(in->attributes.at("offset"));
      stride = std::max(stride, offset + 1);
      limits.emplace_back(offset, countOf(in->attributes.at("source")));
    }
    const long count = std::stol(e.attributes.at("count"));
    long corners = 0;
    if (e.name == "triangles")
      corners = 3 * count;
    else if (e.name == "lines")
      corners = 2 * count;
    else {
      const Element *vcount = e.Child("vcount");
      const std::vector<std::string> v = vcount ? Words(vcount->text) : std::vector<std::string>{};
      if (static_cast<long>(v.size()) != count)
        problems.push_back(where + ": count " + std::to_string(count) + " but " + std::to_string(v.size()) +
                           " vcount entries");
      for (const std::string &w : v)
        corners += std::stol(w);
    }
    const Element *p = e.Child("p");
    const std::vector<std::string> indices = p ? Words(p->text) : std::vector<std::string>{};
    if (static_cast<long>(indices.size()) != corners * stride) {
      problems.push_back(where + ": " + std::to_string(indices.size()) + " indices, expected " +
                         std::to_string(corners * stride));
      return;
    }
    for (size_t k = 0; k < indices.size(); k++) {
      const long index = std::stol(indices[k]);
      for (const auto &[offset, limit] : limits)
        if (static_cast<long>(k % static_cast<size_t>(stride)) == offset && (index < 0 || index >= limit)) {
          problems.push_back(where + ": index " + indices[k] + " not below " + std::to_string(limit));
          return;
        }
    }
  });
  return problems;
}

std::map<std::string, long> PrimitiveCounts(const std::string &document) {
  std::map<std::string, long> out;
  std::string error;
  auto root = Parse(document, &error);
  if (!root)
    return out;
  Walk(*root, [&](const Element &e) {
    if (e.name == "triangles" || e.name == "polylist" || e.name == "lines")
      out[e.name] += std::stol(e.attributes.at("count"));
  });
  return out;
}

} // namespace collada
