// Names of entries as keys: entries whose names are equal without regard to
// case (after "\" and "/", empty and "." components are taken alike) land
// on one file. Used by the extraction plan and by the file closer, which
// the single-entry extraction links without the plan.
#pragma once
#include <cstddef>
#include <vector>
#include "platform/win_types.h"

// The components of a name, empty ones and "." dropped.
std::vector<plat::WStringView> PathComponents(plat::WStringView relative);
// The first count components joined by "\", folded without regard to case
// when fold is set.
plat::WString JoinComponents(const std::vector<plat::WStringView>& parts, size_t count, bool fold);

// The name as a key: components folded without regard to case, joined by
// "\", empty and "." components dropped.
plat::WString FoldedPathKey(plat::WStringView relative);
// The key of the directory that holds the name (empty for the destination).
plat::WString FoldedParentKey(plat::WStringView relative);
