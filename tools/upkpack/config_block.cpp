#include "config_block.h"

#include "pack_error.h"
#include "platform/code_page.h"

namespace upkpack {

namespace {

plat::WString ToWideChecked(const std::string& utf8, const char* what) {
  const plat::WString wide = plat::Utf8ToUtf16(utf8);
  bool lossy = false;
  const std::string ansi = plat::WideToAnsi(wide, &lossy);
  if (lossy || plat::AnsiToWide(ansi) != wide) {
    throw PackError(std::string(what) + " \"" + utf8 + "\" has characters without an ANSI form");
  }
  return wide;
}

bool HasAny(plat::WStringView text, plat::WStringView characters) {
  return text.find_first_of(characters) != plat::WStringView::npos;
}

}  // namespace

plat::WString EscapePercent(plat::WStringView text) {
  plat::WString out;
  for (char16_t c : text) {
    out += c;
    if (c == u'%') out += u'%';
  }
  return out;
}

ArchivePlacement PlaceArchive(const std::optional<std::string>& archiveName,
                              const std::string& subdir, bool split) {
  ArchivePlacement placement;
  placement.subdirToken = plat::W(kNoSubdir);
  if (!archiveName) return placement;
  placement.beside = true;

  const plat::WString name = ToWideChecked(*archiveName, "archive name");
  if (name.empty() || HasAny(name, u"\\/|:") || name == u"." || name == u"..") {
    throw PackError("archive name must be a plain file name: \"" + *archiveName + "\"");
  }
  if (split) {
    const size_t at = name.find(u"%d");
    if (at == plat::WString::npos || name.find(u"%d", at + 2) != plat::WString::npos) {
      throw PackError("a split archive's name holds exactly one %d: \"" + *archiveName + "\"");
    }
    placement.nameToken =
        EscapePercent(name.substr(0, at)) + u"%d" + EscapePercent(name.substr(at + 2));
    placement.split = true;
  } else {
    placement.nameToken = name;
  }

  plat::WString token;
  const plat::WString dir = ToWideChecked(subdir, "subdirectory");
  if (HasAny(dir, u"|:") || (!dir.empty() && (dir.front() == u'/' || dir.front() == u'\\'))) {
    throw PackError("subdirectory must be relative, without \"|\" or \":\": \"" + subdir + "\"");
  }
  size_t start = 0;
  while (start < dir.size()) {
    size_t stop = dir.find_first_of(u"\\/", start);
    if (stop == plat::WString::npos) stop = dir.size();
    const plat::WString part = dir.substr(start, stop - start);
    if (part == u"..") throw PackError("subdirectory must stay below the package: \"" + subdir + "\"");
    if (!part.empty() && part != u".") token += part + u'\\';
    start = stop + 1;
  }
  if (!token.empty()) placement.subdirToken = token;
  return placement;
}

void CheckPassword(const std::string& password) {
  for (char c : password) {
    if (c < 0x20 || c > 0x7E || c == '|') {
      throw PackError("the password must be printable ASCII without \"|\"");
    }
  }
}

std::string BuildConfigText(const ArchivePlacement& placement, const std::string& password) {
  plat::WString text = placement.subdirToken;
  if (placement.beside) {
    text += u'|';
    text += password.empty() ? plat::W(kNoPassword) : plat::W(password);
    text += u'|';
    text += placement.nameToken;
  } else if (!password.empty()) {
    text += u'|';
    text += plat::W(password);
  }
  return plat::WideToAnsi(text);
}

}  // namespace upkpack
