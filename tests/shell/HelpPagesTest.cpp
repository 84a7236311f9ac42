// Every help page the program can open exists, every link between the pages
// leads to a page (and anchor) that exists, and the index reaches them all.
#include "FakeHost.h"
#include "ShellApp.h"
#include "shell/Commands.h"
#include "shell/HelpCommands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const fs::path kSource = OV_SOURCE_DIR;
const fs::path kHelp = kSource / "resources" / "help";

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The page names the code and the forms hand to the help viewer: every string
// literal (or form string) naming an .html file, outside comments.
std::map<std::string, std::string> HelpReferences() {
  std::map<std::string, std::string> found; // page -> where
  const std::regex literal(R"re((?:"|<string>)([A-Za-z0-9_/]+\.html)(#[A-Za-z0-9_-]+)?(?:"|</string>))re");
  for (const char *folder : {"EngineCode", "InterfaceCode", "PlatformCode", "resources/ui"})
    for (const auto &entry : fs::recursive_directory_iterator(kSource / folder)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".cpp" && ext != ".h" && ext != ".ui")
        continue;
      std::istringstream lines(ReadFile(entry.path()));
      std::string line;
      for (int number = 1; std::getline(lines, line); number++) {
        if (const size_t comment = line.find("//"); comment != std::string::npos)
          line.erase(comment);
        for (std::sregex_iterator m(line.begin(), line.end(), literal), end; m != end; ++m)
          found.emplace((*m)[1].str(), entry.path().lexically_relative(kSource).string() + ":" +
                                           std::to_string(number));
      }
    }
  return found;
}

struct Link {
  fs::path page;
  std::string fragment;
};

std::vector<Link> LinksOf(const fs::path &page) {
  std::vector<Link> links;
  const std::string text = ReadFile(page);
  const std::regex href(R"re(href="([^"]*)")re");
  for (std::sregex_iterator m(text.begin(), text.end(), href), end; m != end; ++m) {
    std::string target = (*m)[1].str();
    if (target.rfind("http:", 0) == 0 || target.rfind("https:", 0) == 0 || target.rfind("mailto:", 0) == 0)
      continue;
    Link link;
    if (const size_t hash = target.find('#'); hash != std::string::npos) {
      link.fragment = target.substr(hash + 1);
      target.erase(hash);
    }
    link.page = target.empty() ? page : (page.parent_path() / target).lexically_normal();
    links.push_back(link);
  }
  return links;
}

bool HasAnchor(const fs::path &page, const std::string &fragment) {
  const std::string text = ReadFile(page);
  return text.find("id=\"" + fragment + "\"") != std::string::npos ||
         text.find("name=\"" + fragment + "\"") != std::string::npos;
}

TEST(HelpPages, EveryPageTheProgramOpensExists) {
  const auto references = HelpReferences();
  ASSERT_GE(references.size(), 10u) << "the scan found too few help references to be right";
  for (const auto &[page, where] : references)
    EXPECT_TRUE(fs::is_regular_file(kHelp / page)) << where << " opens " << page << ", which is missing";
}

TEST(HelpPages, LinksLeadToPagesAndTheIndexReachesEveryPage) {
  std::set<fs::path> pages;
  for (const auto &entry : fs::recursive_directory_iterator(kHelp))
    if (entry.path().extension() == ".html")
      pages.insert(entry.path().lexically_normal());
  const fs::path index = (kHelp / kHelpIndexPage).lexically_normal();
  ASSERT_TRUE(pages.count(index)) << index;

  for (const fs::path &page : pages) {
    for (const Link &link : LinksOf(page)) {
      EXPECT_TRUE(pages.count(link.page)) << page.lexically_relative(kHelp) << " links to missing "
                                          << link.page.lexically_relative(kHelp);
      if (pages.count(link.page) && !link.fragment.empty()) {
        EXPECT_TRUE(HasAnchor(link.page, link.fragment))
            << page.lexically_relative(kHelp) << " links to a missing anchor #" << link.fragment;
      }
    }
  }

  std::set<fs::path> reached{index};
  std::vector<fs::path> queue{index};
  while (!queue.empty()) {
    const fs::path page = queue.back();
    queue.pop_back();
    for (const Link &link : LinksOf(page))
      if (pages.count(link.page) && reached.insert(link.page).second)
        queue.push_back(link.page);
  }
  for (const fs::path &page : pages)
    EXPECT_TRUE(reached.count(page)) << page.lexically_relative(kHelp) << " cannot be reached from the index";
}

// The README and the developer's pages: every relative link leads to a file of
// the repository, and the README stays a first page (short, with readable
// lines; a table row may be as long as its cells need).
std::vector<std::string> MarkdownTargets(const std::string &text) {
  std::vector<std::string> targets;
  const std::regex link(R"re(\]\(([^)\s]+)\))re");
  for (std::sregex_iterator m(text.begin(), text.end(), link), end; m != end; ++m) {
    std::string target = (*m)[1].str();
    if (target.find("://") != std::string::npos || target.rfind("mailto:", 0) == 0 || target.rfind("#", 0) == 0)
      continue;
    if (const size_t hash = target.find('#'); hash != std::string::npos)
      target.erase(hash);
    targets.push_back(target);
  }
  return targets;
}

TEST(HelpPages, TheReadmeIsAFirstPageAndItsLinksAndTheDevelopersLeadToFiles) {
  std::vector<fs::path> pages{kSource / "README.md"};
  for (const auto &entry : fs::directory_iterator(kSource / "docs"))
    if (entry.path().extension() == ".md")
      pages.push_back(entry.path());
  ASSERT_GE(pages.size(), 2u) << "docs/ holds no developer's page";
  size_t links = 0;
  for (const fs::path &page : pages)
    for (const std::string &target : MarkdownTargets(ReadFile(page))) {
      links++;
      EXPECT_TRUE(fs::exists((page.parent_path() / target).lexically_normal()))
          << page.lexically_relative(kSource) << " links to missing " << target;
    }
  EXPECT_GE(links, 8u) << "the link scan found too few links to be right";

  const std::string readme = ReadFile(kSource / "README.md");
  EXPECT_LE(readme.size(), 12000u) << "README.md is no longer a first page";
  std::istringstream lines(readme);
  std::string line;
  for (int number = 1; std::getline(lines, line); number++)
    if (line.rfind("|", 0) != 0) {
      EXPECT_LE(line.size(), 800u) << "README.md line " << number << " is too long to read";
    }
}

TEST(HelpPages, TheHelpCommandOpensTheIndex) {
  App();
  FakeHost host;
  HostServices *previous = SetHostServices(&host);
  InstallHelpCommands();
  EXPECT_EQ(ProcessCommand(kCmdHelp), kNoErr);
  SetHostServices(previous);
  EXPECT_EQ(host.helpPages, (std::vector<std::string>{kHelpIndexPage}));
}

} // namespace
