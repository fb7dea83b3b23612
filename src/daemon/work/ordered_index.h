#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace qd {

// Record ids grouped by a key, each group ordered by (time, id): the work tracker's way to
// answer "active tasks older than ..." or "the first queued job" without walking every
// record. Empty groups are dropped.
template <class Key>
class OrderedIndex {
 public:
  using Entry = std::pair<std::int64_t, std::string>;
  using Group = std::set<Entry>;
  using Groups = std::map<Key, Group>;

  void insert(const Key& key, std::int64_t time, const std::string& id) { groups_[key].emplace(time, id); }

  void erase(const Key& key, std::int64_t time, const std::string& id) {
    auto it = groups_.find(key);
    if (it == groups_.end()) return;
    it->second.erase(Entry{time, id});
    if (it->second.empty()) groups_.erase(it);
  }

  const Group* group(const Key& key) const {
    auto it = groups_.find(key);
    return it == groups_.end() ? nullptr : &it->second;
  }

  const Groups& groups() const { return groups_; }

 private:
  Groups groups_;
};

}  // namespace qd
