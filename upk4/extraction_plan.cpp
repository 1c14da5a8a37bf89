#include "upk4/extraction_plan.h"
#include <algorithm>
#include <numeric>
#include <unordered_map>

namespace {

// What making one file costs, in bytes of output it could have decoded
// meanwhile: file creation and its directory entry, the close, the times.
constexpr uint64_t kPerFileCost = 32 * 1024;
// A unit this large is a batch of its own; smaller ones are gathered per
// directory into batches of at most kBatchFiles files and kBatchBytes.
constexpr uint64_t kLargeUnit = 1024 * 1024;
constexpr size_t kBatchFiles = 32;
constexpr uint64_t kBatchBytes = 1024 * 1024;

struct Unit {
  std::vector<size_t> items;
  uint64_t bytes = 0;
};

}  // namespace

bool OrderMatters(const std::vector<plat::WStringView>& directories,
                  const std::vector<plat::WStringView>& files) {
  // Every directory named or implied, by its key, with the first spelling.
  std::unordered_map<plat::WString, plat::WString> spelling;
  const auto note = [&](const std::vector<plat::WStringView>& parts, size_t depth) {
    for (size_t n = 1; n <= depth; ++n) {
      const auto [at, added] = spelling.try_emplace(JoinComponents(parts, n, true), JoinComponents(parts, n, false));
      if (!added && at->second != JoinComponents(parts, n, false)) return false;
    }
    return true;
  };
  for (const plat::WStringView name : directories) {
    const std::vector<plat::WStringView> parts = PathComponents(name);
    if (!note(parts, parts.size())) return true;
  }
  for (const plat::WStringView name : files) {
    const std::vector<plat::WStringView> parts = PathComponents(name);
    if (!parts.empty() && !note(parts, parts.size() - 1)) return true;
  }
  for (const plat::WStringView name : files) {
    if (spelling.count(FoldedPathKey(name)) != 0) return true;
  }
  return false;
}

ExtractionPlan PlanExtraction(const std::vector<PlannedFile>& files, unsigned workers) {
  workers = std::max(workers, 1u);
  // Units by the file they write, in archive order of their first entry.
  std::vector<Unit> units;
  std::vector<plat::WStringView> unitNames;  // of each unit's first entry
  {
    std::unordered_map<plat::WString, size_t> unitOf;
    unitOf.reserve(files.size());
    for (const PlannedFile& f : files) {
      const auto [at, added] = unitOf.try_emplace(FoldedPathKey(f.relative), units.size());
      if (added) {
        units.emplace_back();
        unitNames.push_back(f.relative);
      }
      Unit& unit = units[at->second];
      unit.items.push_back(f.item);
      unit.bytes += f.size + kPerFileCost;
    }
  }

  // Batches: each large unit alone; the small units of a directory gathered.
  // A group is what goes to one worker whole: a directory's small batches,
  // or one large batch.
  ExtractionPlan plan;
  std::vector<std::vector<size_t>> groups;
  std::unordered_map<plat::WString, size_t> openBatch;  // directory -> batch being filled
  std::unordered_map<plat::WString, size_t> groupOf;    // directory -> its group
  for (size_t u = 0; u < units.size(); ++u) {
    const Unit& unit = units[u];
    if (unit.bytes >= kLargeUnit + kPerFileCost) {
      groups.push_back({plan.batches.size()});
      plan.batches.push_back(unit.items);
      plan.costs.push_back(unit.bytes);
      plan.lanes.push_back(ExtractionPlan::kNoLane);
      continue;
    }
    const plat::WString parent = FoldedParentKey(unitNames[u]);
    auto open = openBatch.find(parent);
    if (open != openBatch.end()) {
      const size_t b = open->second;
      if (plan.batches[b].size() + unit.items.size() <= kBatchFiles &&
          plan.costs[b] + unit.bytes <= kBatchBytes + kBatchFiles * kPerFileCost) {
        plan.batches[b].insert(plan.batches[b].end(), unit.items.begin(), unit.items.end());
        plan.costs[b] += unit.bytes;
        continue;
      }
    }
    const size_t b = plan.batches.size();
    plan.batches.push_back(unit.items);
    plan.costs.push_back(unit.bytes);
    openBatch[parent] = b;
    const auto [g, added] = groupOf.try_emplace(parent, groups.size());
    if (added) groups.emplace_back();
    groups[g->second].push_back(b);
    plan.lanes.push_back(g->second);
  }
  // A unit's later entries can come after entries of other units: batches
  // hold their items in archive order.
  for (std::vector<size_t>& batch : plan.batches) std::sort(batch.begin(), batch.end());

  // The heaviest groups first, each to the worker with the least so far.
  std::vector<uint64_t> groupCost(groups.size(), 0);
  for (size_t g = 0; g < groups.size(); ++g)
    for (size_t b : groups[g]) groupCost[g] += plan.costs[b];
  std::vector<size_t> order(groups.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return groupCost[a] > groupCost[b]; });
  plan.queues.assign(workers, {});
  std::vector<uint64_t> load(workers, 0);
  for (size_t g : order) {
    const size_t w = static_cast<size_t>(std::min_element(load.begin(), load.end()) - load.begin());
    load[w] += groupCost[g];
    plan.queues[w].insert(plan.queues[w].end(), groups[g].begin(), groups[g].end());
  }
  // Each queue in archive order, so that results come in about the order
  // in which they are reported.
  for (std::vector<size_t>& queue : plan.queues)
    std::sort(queue.begin(), queue.end(), [&](size_t a, size_t b) {
      return plan.batches[a].front() < plan.batches[b].front();
    });
  return plan;
}
