#include "payload_list.h"

#include <algorithm>
#include <map>

#include "entry_names.h"
#include "pack_error.h"
#include "platform/code_page.h"

namespace upkpack {

namespace fs = std::filesystem;

namespace {

plat::WString ToName(const fs::path& relative) {
  plat::WString name = plat::Utf8ToUtf16(relative.generic_string());
  return name;
}

std::string Show(const fs::path& path) { return path.string(); }

void AddTree(const fs::path& root, const plat::WString& prefix, bool dereference,
             std::vector<PayloadItem>& items) {
  std::vector<fs::directory_entry> found;
  std::error_code ec;
  const auto options = dereference ? fs::directory_options::follow_directory_symlink
                                   : fs::directory_options::none;
  // With links followed, a link to a directory that holds it (the tree's
  // own top or one on the way down) would never end: `ancestors` holds the
  // real directories on the way to the current entry.
  std::vector<fs::path> ancestors;
  if (dereference) ancestors.push_back(fs::canonical(root, ec));
  fs::recursive_directory_iterator it(root, options, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    if (entry.is_symlink() && !dereference) {
      throw PackError("a symbolic link is not taken: " + Show(entry.path()) +
                      " (--dereference takes what it points to)");
    }
    if (dereference && entry.is_directory()) {
      const fs::path real = fs::canonical(entry.path(), ec);
      if (ec) break;
      ancestors.resize(static_cast<size_t>(it.depth()) + 1);
      if (std::find(ancestors.begin(), ancestors.end(), real) != ancestors.end()) {
        throw PackError("a link leads back to a directory that holds it: " + Show(entry.path()));
      }
      ancestors.push_back(real);
    }
    found.push_back(entry);
  }
  if (ec) throw PackError("cannot read the directory " + Show(root) + ": " + ec.message());
  std::sort(found.begin(), found.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) {
              return a.path().generic_string() < b.path().generic_string();
            });
  for (const fs::directory_entry& entry : found) {
    const fs::path relative = entry.path().lexically_relative(root);
    PayloadItem item;
    item.name = prefix + ToName(relative);
    item.source = entry.path();
    if (entry.is_directory()) {
      item.directory = true;
      item.name += u'/';
    } else if (entry.is_regular_file()) {
      item.size = entry.file_size();
    } else {
      throw PackError("not a regular file, directory or link to one: " + Show(entry.path()));
    }
    items.push_back(std::move(item));
  }
}

}  // namespace

std::vector<PayloadItem> CollectPayload(const std::vector<fs::path>& arguments, bool dereference) {
  std::vector<PayloadItem> items;
  for (const fs::path& argument : arguments) {
    std::error_code ec;
    const fs::file_status status = fs::status(argument, ec);
    if (ec || !fs::exists(status)) throw PackError("payload not found: " + Show(argument));

    if (fs::is_regular_file(status)) {
      PayloadItem item;
      item.source = argument;
      item.name = ToName(fs::absolute(argument).lexically_normal().filename());
      item.size = fs::file_size(argument);
      items.push_back(std::move(item));
    } else if (fs::is_directory(status)) {
      plat::WString prefix;
      if (argument.filename() != ".") {
        fs::path normal = fs::absolute(argument).lexically_normal();
        if (!normal.has_filename()) normal = normal.parent_path();
        prefix = ToName(normal.filename());
        if (prefix.empty()) throw PackError("cannot name the directory " + Show(argument));
        prefix += u'/';
        PayloadItem self;
        self.name = prefix;
        self.directory = true;
        self.source = argument;
        items.push_back(std::move(self));
      }
      AddTree(argument, prefix, dereference, items);
    } else {
      throw PackError("not a regular file or directory: " + Show(argument));
    }
  }

  return items;
}

void CheckDistinctNames(const std::vector<plat::WString>& names) {
  // Windows packages: names that differ only in case collide at extraction.
  std::map<plat::WString, plat::WString> seen;
  for (const plat::WString& name : names) {
    plat::WString key = name;
    for (char16_t& c : key) c = plat::FoldCaseWide(c);
    const auto [it, fresh] = seen.emplace(key, name);
    if (!fresh) {
      std::string text = "two entries named \"" + plat::Utf16ToUtf8(name) + "\"";
      if (it->second != name) text += " and \"" + plat::Utf16ToUtf8(it->second) + "\"";
      throw PackError(text);
    }
  }
}

}  // namespace upkpack
