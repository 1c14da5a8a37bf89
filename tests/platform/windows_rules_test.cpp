// The Windows backend's decisions that do not need Windows: who owns a run
// directory, what its access list may grant, the walk of a removal by
// handles (over a tree of our own making, links and foreign entries
// included), and the extended-length path form.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/access_model.h"
#include "platform/long_path.h"
#include "platform/tree_removal.h"

using namespace plat;

namespace {

const std::string kUser = "S-1-5-21-1-2-3-1001";
const std::string kOtherUser = "S-1-5-21-1-2-3-1002";
constexpr uint32_t kAll = 0x1F01FF;

}  // namespace

TEST(AccessModel, OwnerMustBeTheTokensUserItself) {
  EXPECT_TRUE(IsOwnedBy(kUser, kUser));
  EXPECT_FALSE(IsOwnedBy(kOtherUser, kUser));
  // An elevated administrator's default owner: shared by every administrator.
  EXPECT_FALSE(IsOwnedBy(kAdministratorsSid, kUser));
  EXPECT_FALSE(IsOwnedBy("", ""));
}

TEST(AccessModel, RunDirectoryGrantsNothingBeyondUserSystemAndAdministrators) {
  struct Case {
    const char* what;
    std::string owner;
    std::vector<AccessEntry> entries;
    bool isPrivate;
  };
  const Case cases[] = {
      {"as made", kUser, {{kUser, kAll}, {kSystemSid, kAll}, {kAdministratorsSid, kAll}}, true},
      {"reported in another shape (split masks)", kUser,
       {{kUser, 0x1200A9}, {kUser, 0x0D0156}, {kSystemSid, kAll}}, true},
      {"an entry that only denies", kUser, {{kUser, kAll}, {"S-1-1-0", kAll, false}}, true},
      {"an entry that grants nothing", kUser, {{kUser, kAll}, {"S-1-5-32-545", 0}}, true},
      {"Users may create files", kUser, {{kUser, kAll}, {"S-1-5-32-545", 0x2}}, false},
      {"Authenticated Users", kUser, {{kUser, kAll}, {"S-1-5-11", 0x1200A9}}, false},
      {"Everyone (no list at all reads so)", kUser, {{"S-1-1-0", kAll}}, false},
      {"an entry of a kind not read", kUser, {{kUser, kAll}, {"?", kAll}}, false},
      {"another user", kUser, {{kUser, kAll}, {kOtherUser, kAll}}, false},
      {"owned by Administrators", kAdministratorsSid, {{kUser, kAll}}, false},
      {"owned by another user", kOtherUser, {{kUser, kAll}}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPrivateRunDirectory(c.owner, c.entries, kUser), c.isPrivate) << c.what;
  }
}

namespace {

// An in-memory tree whose entries are opened by name relative to their
// directory, as the Win32 backend opens them by handle. Links point at other
// nodes by name, but the walk must never reach through them.
struct FakeTree {
  struct Node {
    Node(TreeEntryKind k = TreeEntryKind::File, std::string t = "", bool r = true)
        : kind(k), target(std::move(t)), removable(r) {}
    TreeEntryKind kind;
    std::string target;  // for links
    bool removable;
  };
  std::map<std::string, Node> nodes;  // full name -> node ("root/a/b")
  std::set<std::string> opened;       // every name the walk opened

  class Entry : public TreeOps::Entry {
   public:
    Entry(FakeTree* tree, std::string name) : m_tree(tree), m_name(std::move(name)) {}
    TreeEntryKind Kind() const override { return m_tree->nodes.at(m_name).kind; }
    bool List(std::vector<std::u16string>* names) override {
      for (const auto& [full, node] : m_tree->nodes) {
        const size_t slash = full.rfind('/');
        if (slash != std::string::npos && full.compare(0, slash, m_name) == 0 && slash == m_name.size()) {
          const std::string leaf = full.substr(slash + 1);
          names->emplace_back(leaf.begin(), leaf.end());
        }
      }
      return true;
    }
    std::unique_ptr<TreeOps::Entry> Open(const std::u16string& name) override {
      const std::string full = m_name + "/" + std::string(name.begin(), name.end());
      if (!m_tree->nodes.count(full)) return nullptr;
      m_tree->opened.insert(full);
      return std::make_unique<Entry>(m_tree, full);
    }
    bool Remove() override {
      Node& node = m_tree->nodes.at(m_name);
      if (!node.removable) return false;
      const auto next = m_tree->nodes.upper_bound(m_name + "/");
      if (next != m_tree->nodes.end() && next->first.compare(0, m_name.size() + 1, m_name + "/") == 0) {
        return false;  // not empty
      }
      m_tree->nodes.erase(m_name);
      return true;
    }

   private:
    FakeTree* m_tree;
    std::string m_name;
  };

  std::unique_ptr<TreeOps::Entry> Root(const std::string& name) {
    return std::make_unique<Entry>(this, name);
  }
};

}  // namespace

TEST(TreeRemoval, LinksAndJunctionsGoAsLinksAndTheirTargetsStay) {
  FakeTree tree;
  using K = TreeEntryKind;
  tree.nodes = {{"outside", {K::Directory}},         {"outside/precious.txt", {K::File}},
                {"run", {K::Directory}},             {"run/a", {K::Directory}},
                {"run/a/file.txt", {K::File}},       {"run/a/junction", {K::Link, "outside"}},
                {"run/link-to-file", {K::Link, "outside/precious.txt"}}};
  EXPECT_TRUE(RemoveTreeByHandle(tree.Root("run")));
  EXPECT_EQ(tree.nodes.size(), 2u);
  EXPECT_TRUE(tree.nodes.count("outside/precious.txt"));
  for (const std::string& name : tree.opened) EXPECT_EQ(name.rfind("run/", 0), 0u) << name;
}

TEST(TreeRemoval, WhatCannotGoIsSkippedAndTheRestGoes) {
  FakeTree tree;
  using K = TreeEntryKind;
  tree.nodes = {{"run", {K::Directory}},      {"run/in-use.dll", {K::File, "", false}},
                {"run/b", {K::Directory}},    {"run/b/x.txt", {K::File}},
                {"run/c.txt", {K::File}}};
  EXPECT_FALSE(RemoveTreeByHandle(tree.Root("run")));
  EXPECT_EQ(tree.nodes.size(), 2u);  // the directory and the file in use
  EXPECT_TRUE(tree.nodes.count("run/in-use.dll"));
}

TEST(TreeRemoval, ATreeDeeperThanAnyPathLimitGoesWithoutRecursion) {
  FakeTree tree;
  std::string name = "run";
  tree.nodes[name] = {TreeEntryKind::Directory};
  for (int level = 0; level < 3000; ++level) {
    name += "/d";
    tree.nodes[name] = {TreeEntryKind::Directory};
  }
  tree.nodes[name + "/deep_file_name.txt"] = {TreeEntryKind::File};
  EXPECT_TRUE(RemoveTreeByHandle(tree.Root("run")));
  EXPECT_TRUE(tree.nodes.empty());
}

TEST(LongPath, ExtendedFormOnlyForLongFullPathsOfPlainNames) {
  const std::u16string deep = u"C:\\Users\\a\\AppData\\Local\\Temp\\SetupTemp0\\" +
                              std::u16string(230, u'x') + u"\\file.txt";
  struct Case {
    std::u16string in, out;
  };
  const Case cases[] = {
      {u"C:\\short\\path.txt", u"C:\\short\\path.txt"},
      {deep, u"\\\\?\\" + deep},
      {u"C:/mixed/./" + std::u16string(240, u'y') + u"/../z", u"\\\\?\\C:\\mixed\\z"},
      {u"\\\\server\\share\\" + std::u16string(240, u'y'),
       u"\\\\?\\UNC\\server\\share\\" + std::u16string(240, u'y')},
      {u"\\\\?\\C:\\" + std::u16string(300, u'q'), u"\\\\?\\C:\\" + std::u16string(300, u'q')},
      // The extended form would take these literally: they stay as given,
      // and a name the system cannot take fails there.
      {u"relative\\" + std::u16string(260, u'r'), u"relative\\" + std::u16string(260, u'r')},
      {u"C:\\" + std::u16string(250, u'd') + u"\\CON", u"C:\\" + std::u16string(250, u'd') + u"\\CON"},
      {u"C:\\" + std::u16string(250, u'd') + u"\\trail.\\x", u"C:\\" + std::u16string(250, u'd') + u"\\trail.\\x"},
  };
  for (const Case& c : cases) EXPECT_EQ(SystemPathForm(c.in), c.out) << c.in.size();
}

TEST(LongPath, DeviceNamesInAnyCaseAndWithAnExtension) {
  for (const char16_t* name : {u"CON", u"nul.txt", u"Aux", u"prn.log", u"COM1", u"lpt9.x", u"nul .txt"}) {
    EXPECT_TRUE(IsDeviceName(name)) << std::string(name, name + std::char_traits<char16_t>::length(name));
  }
  for (const char16_t* name : {u"CONSOLE", u"COM0", u"COM10", u"lpt", u"xnul", u"con_"}) {
    EXPECT_FALSE(IsDeviceName(name)) << std::string(name, name + std::char_traits<char16_t>::length(name));
  }
}
