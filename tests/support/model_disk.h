// A disk in memory for tests, on every system alike: it keeps what a run wrote apart from what
// would survive a power cut, builds every disk a cut may leave, fails on demand, and calls a hook
// before each operation so a test can cut the power there.
//
// What lasts: a file's written bytes only after that file's sync; a name created, renamed or
// removed only after its folder's sync. Until then each change is a pending unit: a file's
// unsynced bytes are one unit (they all reach the disk or none does), each create, rename,
// removal and new folder is one. Units that touch the same name keep their order (a name's
// creation stays before its rename, a removal before the name is made again), and a name in a new
// folder comes after the folder.
//
// Links and devices can be placed to be refused; they hold nothing and lead nowhere.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "files/disk.h"

namespace zephor::files {

using ModelBytes = std::vector<std::uint8_t>;

// What one name holds, as plain data.
struct ImageEntry {
  EntryKind kind = EntryKind::kFile;
  ModelBytes bytes;  // of a file
  bool operator==(const ImageEntry&) const = default;
};

// A whole disk as plain data, by name ("ZEPHORdata.bin", "/survey/boot.bin", "sub/x"): what a
// next run starts from, or what a test compares.
using DiskImage = std::map<std::string, ImageEntry>;

enum class OperationKind {
  kCreate,
  kOpenToRead,
  kOpenForOutput,
  kWrite,
  kRead,
  kSync,
  kRename,
  kRemove,
  kSyncFolder,
  kList,
  kStatus,
  kMakeFolder,
  kLockFolder,
};

// "create", "read", "sync folder", ...
const char* OperationName(OperationKind kind);

// One file operation, as the hook sees it before it happens.
struct Operation {
  OperationKind kind = OperationKind::kCreate;
  std::string path;                // the name it concerns; a rename's old name
  std::string to;                  // a rename's new name
  std::uint64_t number = 0;        // 1 for the disk's first operation
  std::uint64_t numberOfKind = 0;  // 1 for the first of its kind
};

// What the hook tells the disk to do with the operation it is shown.
enum class HookAnswer {
  kGoOn,
  kFail,      // the operation fails with an I/O error and changes nothing
  kCutPower,  // the power goes: this and every later operation fail, and nothing changes again
};

// An I/O error (or, with garble, a read bringing other bytes) at the nth operation that matches,
// counted from when the fault is added.
struct Fault {
  std::optional<OperationKind> kind;  // any kind when not given
  std::string name;                   // a file name or a whole path; any when empty
  std::uint64_t nth = 1;
  bool garble = false;   // a read that matches brings one bit changed instead of failing
  bool persist = false;  // every later match fails too
};

enum class UnitKind { kData, kCreate, kRename, kRemove, kMakeFolder };

// A change the run made that has not reached the disk yet.
struct PendingUnit {
  UnitKind kind = UnitKind::kData;
  std::string path;  // for data, the name it was written under
  std::string to;    // a rename's new name
  // "data of ZEPHORdata.bin (4096 bytes)", "rename x.tmp to x", ...
  std::string description;
};

// One disk a power cut may leave.
struct CrashState {
  DiskImage image;
  std::vector<std::size_t> kept;  // the pending units that reached the disk, by their number
  std::string description;        // "kept: create x.tmp; lost: rename x.tmp to x"
};

class ModelDisk final : public Disk {
 public:
  // Pending units past this many are cut only between them: the disks left are their prefixes.
  static constexpr std::size_t kSubsetLimit = 8;
  // The process number the model's folder lock names.
  static constexpr long kModelHolder = 4242;
  // The wall clock until the test sets another: 2026-12-07 12:00:00 UTC.
  static constexpr std::int64_t kDefaultWallClock = 1796644800;

  // An empty disk: the working folder "." and the roots exist.
  ModelDisk();
  // A disk holding image, all of it on the disk.
  explicit ModelDisk(const DiskImage& image);
  ~ModelDisk() override;
  ModelDisk(const ModelDisk&) = delete;
  ModelDisk& operator=(const ModelDisk&) = delete;

  // Setting up: on the disk at once, no operation counted, no hook called.
  void PutFile(const std::filesystem::path& path, const ModelBytes& bytes);
  void PutFolder(const std::filesystem::path& path);
  void PutLink(const std::filesystem::path& path);
  void PutSpecial(const std::filesystem::path& path);  // a device or a pipe

  // What a run sees now; what is left if the power goes with no pending unit on the disk.
  DiskImage Now() const;
  DiskImage Durable() const;
  // The bytes of a file as a run sees it now; nothing when it is no file.
  std::optional<ModelBytes> Contents(const std::filesystem::path& path) const;

  // The changes not yet on the disk, in the order they were made.
  std::vector<PendingUnit> Pending() const;
  // Every disk a power cut now may leave: each set of pending units that keeps their order (up to
  // kSubsetLimit units; past it, their prefixes). The first leaves every unit out, the last keeps
  // them all.
  std::vector<CrashState> CrashStates() const;

  void AddFault(const Fault& fault);
  // The disk is full once its files hold this many bytes: a write keeps what fits and fails.
  void SetCapacity(std::uint64_t bytes);

  std::uint64_t operations() const { return operations_; }
  std::uint64_t operations(OperationKind kind) const;
  // Called before each operation; its answer decides what happens to it.
  void SetHook(std::function<HookAnswer(const Operation&)> hook);
  // From now on every operation fails and nothing changes: the pending units stay as they were.
  void CutPower();
  bool powered() const { return powered_; }
  void SetWallClock(std::function<std::int64_t()> clock);

  std::unique_ptr<DiskFile> Create(const std::filesystem::path& path, std::string& why) override;
  std::unique_ptr<DiskFile> OpenToRead(const std::filesystem::path& path,
                                       std::string& why) override;
  // Links and devices are refused here: the model does not follow them.
  std::unique_ptr<DiskFile> OpenForOutput(const std::filesystem::path& path,
                                          std::string& why) override;
  bool Rename(const std::filesystem::path& from, const std::filesystem::path& to,
              std::string& why) override;
  Removal Remove(const std::filesystem::path& path, std::string& why) override;
  bool SyncFolder(const std::filesystem::path& folder, std::string& why) override;
  bool List(const std::filesystem::path& folder, std::vector<Entry>& entries,
            std::string& why) override;
  bool Status(const std::filesystem::path& path, NameStatus& status, std::string& why) override;
  bool MakeFolder(const std::filesystem::path& path, std::string& why) override;
  LockOutcome LockFolder(const std::filesystem::path& folder, std::unique_ptr<FolderHold>& hold,
                         long& holder, std::string& why) override;
  std::int64_t WallClockSeconds() override;

 private:
  class File;
  struct Node {
    EntryKind kind = EntryKind::kFile;
    std::uint64_t inode = 0;  // of a file
  };
  struct Inode {
    ModelBytes current;
    ModelBytes durable;
  };
  struct Unit {
    UnitKind kind = UnitKind::kData;
    std::string path;
    std::string to;
    std::uint64_t inode = 0;
    std::set<std::string> awaiting;  // folders whose sync it still waits for
  };
  struct ArmedFault {
    Fault fault;
    std::uint64_t seen = 0;
  };
  using Names = std::map<std::string, Node>;

  // Counts the operation, asks the hook and the faults; false (why set) when it must fail.
  bool Begin(OperationKind kind, const std::string& path, const std::string& to, std::string& why);
  bool FolderExists(const std::string& key) const;
  // False with why set when the folder a new name goes in is missing.
  bool ParentExists(const std::string& key, std::string& why) const;
  const Node* Find(const std::string& key) const;
  std::uint64_t NewInode();
  void Place(const std::string& key, const Node& node, const ModelBytes& bytes);
  void AddNameUnit(UnitKind kind, const std::string& path, const std::string& to,
                   std::uint64_t inode);
  // After the inode's bytes changed: a data unit while they differ from the disk's.
  void NoteData(std::uint64_t inode, const std::string& path);
  void Settle();
  // A name unit's change to a set of names (a data unit changes none).
  static void Apply(const Unit& unit, Names& names);
  std::uint64_t Used() const;
  std::vector<std::vector<std::size_t>> Dependencies() const;
  DiskImage ImageOf(const std::vector<bool>& kept) const;

  bool WriteTo(std::uint64_t inode, const std::string& path, std::span<const std::uint8_t> bytes,
               std::string& why);
  long long ReadFrom(std::uint64_t inode, const std::string& path, std::size_t& position,
                     std::span<std::uint8_t> into, std::string& why);
  bool SyncFile(std::uint64_t inode, const std::string& path, std::string& why);
  long long SizeOf(std::uint64_t inode) const;

  Names view_;
  Names durable_;
  std::map<std::uint64_t, Inode> inodes_;
  std::vector<Unit> pending_;
  std::vector<ArmedFault> faults_;
  std::optional<std::uint64_t> capacity_;
  std::function<HookAnswer(const Operation&)> hook_;
  std::function<std::int64_t()> clock_;
  std::uint64_t operations_ = 0;
  std::map<OperationKind, std::uint64_t> operationsOfKind_;
  std::uint64_t nextInode_ = 1;
  bool powered_ = true;
  bool garbleNextRead_ = false;
  // Folders locked now; shared with the holds so a hold may outlive the disk.
  std::shared_ptr<std::set<std::string>> locked_;
};

}  // namespace zephor::files
