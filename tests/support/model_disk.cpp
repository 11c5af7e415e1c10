// The model disk: names and bytes as a run sees them, names and bytes as the disk holds them, and
// the pending units between the two.
#include "model_disk.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "files/folder_lock.h"
#include "files/system_error_text.h"

namespace zephor::files {
namespace {

namespace fs = std::filesystem;

// One spelling per name: "./a//b/" is "a/b", the working folder is ".".
std::string Key(const fs::path& path) {
  std::string key = path.lexically_normal().generic_string();
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key.empty() ? "." : key;
}

std::string FolderKey(const std::string& key) {
  const std::string folder = fs::path(key).parent_path().generic_string();
  return folder.empty() ? "." : folder;
}

bool IsRoot(const std::string& key) {
  const fs::path path(key);
  return key == "." || path == path.root_path();
}

std::string IoErrorText() { return ErrnoText(EIO); }

bool Matches(const Fault& fault, OperationKind kind, const std::string& path,
             const std::string& to) {
  if (fault.garble && kind != OperationKind::kRead) return false;
  if (fault.kind && *fault.kind != kind) return false;
  if (fault.name.empty()) return true;
  const auto named = [&](const std::string& key) {
    return !key.empty() && (key == Key(fault.name) || fs::path(key).filename() == fault.name);
  };
  return named(path) || named(to);
}

std::string Describe(UnitKind kind, const std::string& path, const std::string& to,
                     std::size_t bytes) {
  switch (kind) {
    case UnitKind::kData:
      return "data of " + path + " (" + std::to_string(bytes) + " bytes)";
    case UnitKind::kCreate:
      return "create " + path;
    case UnitKind::kRename:
      return "rename " + path + " to " + to;
    case UnitKind::kRemove:
      return "remove " + path;
    case UnitKind::kMakeFolder:
      return "make folder " + path;
  }
  return path;
}

// The names a unit changes.
std::vector<std::string> NamesOf(UnitKind kind, const std::string& path, const std::string& to) {
  if (kind == UnitKind::kData) return {};
  if (kind == UnitKind::kRename) return {path, to};
  return {path};
}

struct ModelHold final : FolderHold {
  ModelHold(std::weak_ptr<std::set<std::string>> locked, std::string folder)
      : locked_(std::move(locked)), folder_(std::move(folder)) {}
  ~ModelHold() override {
    if (const auto locked = locked_.lock()) locked->erase(folder_);
  }
  std::weak_ptr<std::set<std::string>> locked_;
  std::string folder_;
};

}  // namespace

const char* OperationName(OperationKind kind) {
  switch (kind) {
    case OperationKind::kCreate:
      return "create";
    case OperationKind::kOpenToRead:
      return "open to read";
    case OperationKind::kOpenForOutput:
      return "open for output";
    case OperationKind::kWrite:
      return "write";
    case OperationKind::kRead:
      return "read";
    case OperationKind::kSync:
      return "sync";
    case OperationKind::kRename:
      return "rename";
    case OperationKind::kRemove:
      return "remove";
    case OperationKind::kSyncFolder:
      return "sync folder";
    case OperationKind::kList:
      return "list";
    case OperationKind::kStatus:
      return "status";
    case OperationKind::kMakeFolder:
      return "make folder";
    case OperationKind::kLockFolder:
      return "lock folder";
  }
  return "operation";
}

// An open file of the model: its inode, and where the last read ended.
class ModelDisk::File final : public DiskFile {
 public:
  File(ModelDisk& disk, std::uint64_t inode, std::string path)
      : disk_(disk), inode_(inode), path_(std::move(path)) {}
  bool Write(std::span<const std::uint8_t> bytes, std::string& why) override {
    return disk_.WriteTo(inode_, path_, bytes, why);
  }
  long long Read(std::span<std::uint8_t> into, std::string& why) override {
    return disk_.ReadFrom(inode_, path_, position_, into, why);
  }
  bool Sync(std::string& why) override { return disk_.SyncFile(inode_, path_, why); }
  long long Size() override { return disk_.SizeOf(inode_); }
  bool Close(std::string&) override { return true; }

 private:
  ModelDisk& disk_;
  std::uint64_t inode_;
  std::string path_;
  std::size_t position_ = 0;
};

ModelDisk::ModelDisk()
    : clock_([] { return kDefaultWallClock; }),
      locked_(std::make_shared<std::set<std::string>>()) {}

ModelDisk::ModelDisk(const DiskImage& image) : ModelDisk() {
  for (const auto& [name, entry] : image) {
    Place(Key(name), {entry.kind, entry.kind == EntryKind::kFile ? NewInode() : 0}, entry.bytes);
  }
}

ModelDisk::~ModelDisk() = default;

void ModelDisk::PutFile(const fs::path& path, const ModelBytes& bytes) {
  Place(Key(path), {EntryKind::kFile, NewInode()}, bytes);
}
void ModelDisk::PutFolder(const fs::path& path) { Place(Key(path), {EntryKind::kFolder, 0}, {}); }
void ModelDisk::PutLink(const fs::path& path) { Place(Key(path), {EntryKind::kLink, 0}, {}); }
void ModelDisk::PutSpecial(const fs::path& path) { Place(Key(path), {EntryKind::kOther, 0}, {}); }

void ModelDisk::Place(const std::string& key, const Node& node, const ModelBytes& bytes) {
  view_[key] = node;
  durable_[key] = node;
  if (node.kind == EntryKind::kFile) inodes_[node.inode] = {bytes, bytes};
}

std::uint64_t ModelDisk::NewInode() {
  inodes_[nextInode_] = {};
  return nextInode_++;
}

DiskImage ModelDisk::Now() const {
  DiskImage image;
  for (const auto& [key, node] : view_) {
    image[key] = {node.kind,
                  node.kind == EntryKind::kFile ? inodes_.at(node.inode).current : ModelBytes{}};
  }
  return image;
}

DiskImage ModelDisk::Durable() const { return ImageOf(std::vector<bool>(pending_.size(), false)); }

std::optional<ModelBytes> ModelDisk::Contents(const fs::path& path) const {
  const Node* node = Find(Key(path));
  if (node == nullptr || node->kind != EntryKind::kFile) return std::nullopt;
  return inodes_.at(node->inode).current;
}

std::vector<PendingUnit> ModelDisk::Pending() const {
  std::vector<PendingUnit> units;
  for (const Unit& unit : pending_) {
    const std::size_t bytes =
        unit.kind == UnitKind::kData ? inodes_.at(unit.inode).current.size() : 0;
    units.push_back(
        {unit.kind, unit.path, unit.to, Describe(unit.kind, unit.path, unit.to, bytes)});
  }
  return units;
}

// For each pending unit, the earlier ones it needs: the last earlier change to each name it
// changes, and the new folder its names go in.
std::vector<std::vector<std::size_t>> ModelDisk::Dependencies() const {
  std::vector<std::vector<std::size_t>> needs(pending_.size());
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    const Unit& unit = pending_[i];
    for (const std::string& name : NamesOf(unit.kind, unit.path, unit.to)) {
      for (std::size_t j = i; j-- > 0;) {
        const Unit& earlier = pending_[j];
        const std::vector<std::string> changed = NamesOf(earlier.kind, earlier.path, earlier.to);
        const bool sameName = std::find(changed.begin(), changed.end(), name) != changed.end();
        const bool itsFolder =
            earlier.kind == UnitKind::kMakeFolder && earlier.path == FolderKey(name);
        if (itsFolder) needs[i].push_back(j);
        if (sameName) {
          needs[i].push_back(j);
          break;
        }
      }
    }
  }
  return needs;
}

void ModelDisk::Apply(const Unit& unit, Names& names) {
  switch (unit.kind) {
    case UnitKind::kData:
      break;
    case UnitKind::kCreate:
      names[unit.path] = {EntryKind::kFile, unit.inode};
      break;
    case UnitKind::kMakeFolder:
      names[unit.path] = {EntryKind::kFolder, 0};
      break;
    case UnitKind::kRemove:
      names.erase(unit.path);
      break;
    case UnitKind::kRename:
      if (const auto from = names.find(unit.path); from != names.end()) {
        const Node moved = from->second;
        names.erase(from);
        names[unit.to] = moved;
      }
      break;
  }
}

DiskImage ModelDisk::ImageOf(const std::vector<bool>& kept) const {
  Names names = durable_;
  std::set<std::uint64_t> written;
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    if (!kept[i]) continue;
    const Unit& unit = pending_[i];
    if (unit.kind == UnitKind::kData) written.insert(unit.inode);
    Apply(unit, names);
  }
  DiskImage image;
  for (const auto& [key, node] : names) {
    ModelBytes bytes;
    if (node.kind == EntryKind::kFile) {
      const Inode& inode = inodes_.at(node.inode);
      bytes = written.count(node.inode) != 0 ? inode.current : inode.durable;
    }
    image[key] = {node.kind, std::move(bytes)};
  }
  return image;
}

std::vector<CrashState> ModelDisk::CrashStates() const {
  const std::size_t count = pending_.size();
  const std::vector<std::vector<std::size_t>> needs = Dependencies();
  std::vector<std::vector<bool>> choices;
  if (count <= kSubsetLimit) {
    for (std::uint32_t mask = 0; mask < (1u << count); ++mask) {
      std::vector<bool> kept(count);
      for (std::size_t i = 0; i < count; ++i) kept[i] = (mask >> i & 1u) != 0;
      bool inOrder = true;
      for (std::size_t i = 0; i < count && inOrder; ++i) {
        for (const std::size_t j : needs[i]) inOrder = inOrder && (!kept[i] || kept[j]);
      }
      if (inOrder) choices.push_back(std::move(kept));
    }
  } else {
    for (std::size_t length = 0; length <= count; ++length) {
      std::vector<bool> kept(count, false);
      std::fill_n(kept.begin(), length, true);
      choices.push_back(std::move(kept));
    }
  }
  const std::vector<PendingUnit> units = Pending();
  std::vector<CrashState> states;
  for (const std::vector<bool>& kept : choices) {
    CrashState state;
    state.image = ImageOf(kept);
    std::string keptText;
    std::string lostText;
    for (std::size_t i = 0; i < count; ++i) {
      std::string& text = kept[i] ? keptText : lostText;
      text += (text.empty() ? "" : ", ") + units[i].description;
      if (kept[i]) state.kept.push_back(i);
    }
    state.description = "kept: " + (keptText.empty() ? "nothing" : keptText) +
                        "; lost: " + (lostText.empty() ? "nothing" : lostText);
    states.push_back(std::move(state));
  }
  return states;
}

void ModelDisk::AddFault(const Fault& fault) { faults_.push_back({fault, 0}); }

void ModelDisk::SetCapacity(std::uint64_t bytes) { capacity_ = bytes; }

std::uint64_t ModelDisk::operations(OperationKind kind) const {
  const auto found = operationsOfKind_.find(kind);
  return found == operationsOfKind_.end() ? 0 : found->second;
}

void ModelDisk::SetHook(std::function<HookAnswer(const Operation&)> hook) {
  hook_ = std::move(hook);
}

void ModelDisk::CutPower() { powered_ = false; }

void ModelDisk::SetWallClock(std::function<std::int64_t()> clock) { clock_ = std::move(clock); }

bool ModelDisk::Begin(OperationKind kind, const std::string& path, const std::string& to,
                      std::string& why) {
  if (!powered_) {
    why = IoErrorText();
    return false;
  }
  const Operation operation{kind, path, to, ++operations_, ++operationsOfKind_[kind]};
  if (hook_) {
    const HookAnswer answer = hook_(operation);
    if (answer == HookAnswer::kCutPower) CutPower();
    if (answer != HookAnswer::kGoOn) {
      why = IoErrorText();
      return false;
    }
  }
  for (ArmedFault& armed : faults_) {
    if (!Matches(armed.fault, kind, path, to)) continue;
    ++armed.seen;
    if (armed.seen != armed.fault.nth && !(armed.fault.persist && armed.seen > armed.fault.nth)) {
      continue;
    }
    if (armed.fault.garble) {
      garbleNextRead_ = true;
      continue;
    }
    why = IoErrorText();
    return false;
  }
  return true;
}

const ModelDisk::Node* ModelDisk::Find(const std::string& key) const {
  const auto found = view_.find(key);
  return found == view_.end() ? nullptr : &found->second;
}

bool ModelDisk::FolderExists(const std::string& key) const {
  if (IsRoot(key)) return true;
  const Node* node = Find(key);
  return node != nullptr && node->kind == EntryKind::kFolder;
}

bool ModelDisk::ParentExists(const std::string& key, std::string& why) const {
  if (FolderExists(FolderKey(key))) return true;
  why = ErrnoText(ENOENT);
  return false;
}

void ModelDisk::AddNameUnit(UnitKind kind, const std::string& path, const std::string& to,
                            std::uint64_t inode) {
  Unit unit{kind, path, to, inode, {FolderKey(path)}};
  if (!to.empty()) unit.awaiting.insert(FolderKey(to));
  pending_.push_back(std::move(unit));
}

void ModelDisk::NoteData(std::uint64_t inode, const std::string& path) {
  const Inode& bytes = inodes_.at(inode);
  const auto unit = std::find_if(pending_.begin(), pending_.end(), [&](const Unit& u) {
    return u.kind == UnitKind::kData && u.inode == inode;
  });
  if (bytes.current == bytes.durable) {
    if (unit != pending_.end()) pending_.erase(unit);
  } else if (unit == pending_.end()) {
    pending_.push_back({UnitKind::kData, path, {}, inode, {}});
  }
}

// Units whose folders were all synced reach the disk, in order: one still waiting for an earlier
// unit it needs waits with it.
void ModelDisk::Settle() {
  const std::vector<std::vector<std::size_t>> needs = Dependencies();
  std::vector<bool> settled(pending_.size(), false);
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    const Unit& unit = pending_[i];
    if (unit.kind == UnitKind::kData || !unit.awaiting.empty()) continue;
    bool ready = true;
    for (const std::size_t j : needs[i]) ready = ready && settled[j];
    if (!ready) continue;
    settled[i] = true;
  }
  std::vector<Unit> left;
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    if (settled[i]) {
      Apply(pending_[i], durable_);
    } else {
      left.push_back(std::move(pending_[i]));
    }
  }
  pending_ = std::move(left);
}

std::uint64_t ModelDisk::Used() const {
  std::uint64_t used = 0;
  for (const auto& [key, node] : view_) {
    if (node.kind == EntryKind::kFile) used += inodes_.at(node.inode).current.size();
  }
  return used;
}

std::unique_ptr<DiskFile> ModelDisk::Create(const fs::path& path, std::string& why) {
  const std::string key = Key(path);
  if (!Begin(OperationKind::kCreate, key, {}, why) || !ParentExists(key, why)) return nullptr;
  if (Find(key) != nullptr) {
    why = kInTheWayText;
    return nullptr;
  }
  const std::uint64_t inode = NewInode();
  view_[key] = {EntryKind::kFile, inode};
  AddNameUnit(UnitKind::kCreate, key, {}, inode);
  return std::make_unique<File>(*this, inode, key);
}

std::unique_ptr<DiskFile> ModelDisk::OpenToRead(const fs::path& path, std::string& why) {
  const std::string key = Key(path);
  if (!Begin(OperationKind::kOpenToRead, key, {}, why)) return nullptr;
  const Node* node = Find(key);
  if (node == nullptr) {
    why = IsRoot(key) ? kIsFolderText : ErrnoText(ENOENT);
    return nullptr;
  }
  switch (node->kind) {
    case EntryKind::kFile:
      return std::make_unique<File>(*this, node->inode, key);
    case EntryKind::kLink:
      why = kIsLinkText;
      return nullptr;
    case EntryKind::kFolder:
      why = kIsFolderText;
      return nullptr;
    default:
      why = kNotRegularText;
      return nullptr;
  }
}

std::unique_ptr<DiskFile> ModelDisk::OpenForOutput(const fs::path& path, std::string& why) {
  const std::string key = Key(path);
  if (!Begin(OperationKind::kOpenForOutput, key, {}, why) || !ParentExists(key, why)) {
    return nullptr;
  }
  const Node* node = Find(key);
  if (node == nullptr) {
    const std::uint64_t inode = NewInode();
    view_[key] = {EntryKind::kFile, inode};
    AddNameUnit(UnitKind::kCreate, key, {}, inode);
    return std::make_unique<File>(*this, inode, key);
  }
  if (node->kind != EntryKind::kFile) {
    why = node->kind == EntryKind::kFolder ? kIsFolderText : kNotRegularText;
    return nullptr;
  }
  const std::uint64_t inode = node->inode;
  inodes_.at(inode).current.clear();
  NoteData(inode, key);
  return std::make_unique<File>(*this, inode, key);
}

bool ModelDisk::Rename(const fs::path& from, const fs::path& to, std::string& why) {
  const std::string source = Key(from);
  const std::string target = Key(to);
  if (!Begin(OperationKind::kRename, source, target, why)) return false;
  const Node* moving = Find(source);
  if (moving == nullptr) {
    why = ErrnoText(ENOENT);
    return false;
  }
  if (!ParentExists(target, why)) return false;
  const Node* replaced = Find(target);
  if (moving->kind == EntryKind::kFolder ||
      (replaced != nullptr && replaced->kind == EntryKind::kFolder)) {
    why = kIsFolderText;
    return false;
  }
  if (source == target) return true;
  const Node node = *moving;
  view_.erase(source);
  view_[target] = node;
  AddNameUnit(UnitKind::kRename, source, target, node.inode);
  return true;
}

Removal ModelDisk::Remove(const fs::path& path, std::string& why) {
  const std::string key = Key(path);
  if (!Begin(OperationKind::kRemove, key, {}, why)) return Removal::kFailed;
  const Node* node = Find(key);
  if (node == nullptr && !IsRoot(key)) return Removal::kAbsent;
  if (node == nullptr || node->kind == EntryKind::kFolder) {
    why = kIsFolderText;
    return Removal::kFailed;
  }
  const std::uint64_t inode = node->inode;
  view_.erase(key);
  AddNameUnit(UnitKind::kRemove, key, {}, inode);
  return Removal::kRemoved;
}

bool ModelDisk::SyncFolder(const fs::path& folder, std::string& why) {
  const std::string key = Key(folder);
  if (!Begin(OperationKind::kSyncFolder, key, {}, why)) return false;
  if (!FolderExists(key)) {
    why = ErrnoText(ENOENT);
    return false;
  }
  for (Unit& unit : pending_) unit.awaiting.erase(key);
  Settle();
  return true;
}

bool ModelDisk::List(const fs::path& folder, std::vector<Entry>& entries, std::string& why) {
  const std::string key = Key(folder);
  if (!Begin(OperationKind::kList, key, {}, why)) return false;
  if (!FolderExists(key)) {
    why = ErrnoText(Find(key) == nullptr ? ENOENT : ENOTDIR);
    return false;
  }
  entries.clear();
  for (const auto& [name, node] : view_) {
    if (name != key && FolderKey(name) == key) {
      entries.push_back({fs::path(name).filename().generic_string(), node.kind});
    }
  }
  return true;
}

bool ModelDisk::Status(const fs::path& path, NameStatus& status, std::string& why) {
  const std::string key = Key(path);
  if (!Begin(OperationKind::kStatus, key, {}, why)) return false;
  const Node* node = Find(key);
  if (node == nullptr) {
    status = {IsRoot(key) ? EntryKind::kFolder : EntryKind::kAbsent, 0};
    return true;
  }
  status = {node->kind,
            node->kind == EntryKind::kFile ? inodes_.at(node->inode).current.size() : 0};
  return true;
}

bool ModelDisk::MakeFolder(const fs::path& path, std::string& why) {
  const std::string key = Key(path);
  if (!Begin(OperationKind::kMakeFolder, key, {}, why)) return false;
  if (FolderExists(key)) return true;
  if (Find(key) != nullptr) {
    why = kInTheWayText;
    return false;
  }
  if (!ParentExists(key, why)) return false;
  view_[key] = {EntryKind::kFolder, 0};
  AddNameUnit(UnitKind::kMakeFolder, key, {}, 0);
  return true;
}

LockOutcome ModelDisk::LockFolder(const fs::path& folder, std::unique_ptr<FolderHold>& hold,
                                  long& holder, std::string& why) {
  const std::string folderKey = Key(folder.empty() ? fs::path(".") : folder);
  const std::string key = Key(fs::path(folderKey) / kLockFileName);
  if (!Begin(OperationKind::kLockFolder, key, {}, why)) return LockOutcome::kUnusable;
  if (!ParentExists(key, why)) return LockOutcome::kUnusable;
  const Node* node = Find(key);
  if (node != nullptr && node->kind != EntryKind::kFile) {
    why = node->kind == EntryKind::kLink     ? kIsLinkText
          : node->kind == EntryKind::kFolder ? kIsFolderText
                                             : kNotRegularText;
    return LockOutcome::kUnusable;
  }
  if (locked_->count(folderKey) != 0) {
    holder = kModelHolder;
    return LockOutcome::kBusy;
  }
  std::uint64_t inode = 0;
  if (node == nullptr) {
    inode = NewInode();
    view_[key] = {EntryKind::kFile, inode};
    AddNameUnit(UnitKind::kCreate, key, {}, inode);
  } else {
    inode = node->inode;
  }
  // The number is written, not synced, as the system's lock writes it.
  const std::string text = std::to_string(kModelHolder) + "\n";
  inodes_.at(inode).current.assign(text.begin(), text.end());
  NoteData(inode, key);
  locked_->insert(folderKey);
  hold = std::make_unique<ModelHold>(locked_, folderKey);
  holder = kModelHolder;
  return LockOutcome::kTaken;
}

std::int64_t ModelDisk::WallClockSeconds() { return clock_(); }

bool ModelDisk::WriteTo(std::uint64_t inode, const std::string& path,
                        std::span<const std::uint8_t> bytes, std::string& why) {
  if (!Begin(OperationKind::kWrite, path, {}, why)) return false;
  std::size_t fits = bytes.size();
  if (capacity_) {
    const std::uint64_t used = Used();
    const std::uint64_t room = *capacity_ > used ? *capacity_ - used : 0;
    fits = static_cast<std::size_t>(std::min<std::uint64_t>(room, bytes.size()));
  }
  ModelBytes& current = inodes_.at(inode).current;
  current.insert(current.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(fits));
  NoteData(inode, path);
  if (fits == bytes.size()) return true;
  why = ErrnoText(ENOSPC);
  return false;
}

long long ModelDisk::ReadFrom(std::uint64_t inode, const std::string& path, std::size_t& position,
                              std::span<std::uint8_t> into, std::string& why) {
  if (!Begin(OperationKind::kRead, path, {}, why)) return -1;
  const ModelBytes& current = inodes_.at(inode).current;
  const std::size_t count =
      position >= current.size() ? 0 : std::min(into.size(), current.size() - position);
  std::copy_n(current.begin() + static_cast<std::ptrdiff_t>(position), count, into.begin());
  position += count;
  if (garbleNextRead_ && count > 0) {
    into[count / 2] ^= 1;
    garbleNextRead_ = false;
  }
  return static_cast<long long>(count);
}

bool ModelDisk::SyncFile(std::uint64_t inode, const std::string& path, std::string& why) {
  if (!Begin(OperationKind::kSync, path, {}, why)) return false;
  Inode& bytes = inodes_.at(inode);
  bytes.durable = bytes.current;
  NoteData(inode, path);
  return true;
}

long long ModelDisk::SizeOf(std::uint64_t inode) const {
  return static_cast<long long>(inodes_.at(inode).current.size());
}

}  // namespace zephor::files
