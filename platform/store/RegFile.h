// The files of the settings store: one per root key, HKEY_LOCAL_MACHINE.reg
// and so on, in $LOOMVALE_REGISTRY, else $XDG_CONFIG_HOME/loomvale, else
// ~/.config/loomvale.
//
// Every change is one transaction under an flock on "<file>.lock": the file
// is read, changed in memory, written to a temporary file beside it (beside
// the file a symbolic link leads to, so the link stays), fsync'ed and renamed
// over the old one. A file that cannot be parsed is
// renamed aside to "<file>.corrupt" (or ".corrupt.N", never over an earlier
// one). The last store read is kept in memory while its file is unchanged.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/store/RegFormat.h"

namespace platform {

// Where the store files are, read from the environment at each call.
std::string RegistryFolder();

// The keys of the store the scope keeps (see RegScope), shared (not copied)
// while the file is unchanged; in a batch that covers the scope, the batch's
// keys, valid until its next change. A missing store is empty, an
// unparseable one is set aside and reads as empty. However large the store,
// only the keys in scope are held.
LSTATUS LoadStore(HKEY root, const RegScope& scope, std::shared_ptr<const RegHive>& hive);
// ERROR_SUCCESS when the store of `root` may be written (its folder is made).
LSTATUS CheckStoreWritable(HKEY root);
// One read-modify-write of a store: `change` gets the keys in scope, returns
// a status and sets its second argument when they must be written back. The
// sections of the other keys are copied as they are (a file not in the form
// this layer writes is read and written whole).
LSTATUS ChangeStore(HKEY root, const RegScope& scope, const std::function<LSTATUS(RegHive&, bool&)>& change);

// A group of changes to one key of a store made as one transaction, so that
// values saved together are never mixed with another writer's: from the
// batch's start, which takes the store's lock and reads it, until Commit,
// changes in its scope apply to a copy in memory (reads see them; changes
// outside it are refused), and Commit writes it once. A batch not committed
// writes nothing; one batch at a time.
class StoreBatch {
public:
    StoreBatch(HKEY root, RegScope scope);
    ~StoreBatch();
    StoreBatch(const StoreBatch&) = delete;
    StoreBatch& operator=(const StoreBatch&) = delete;
    // Not ERROR_SUCCESS when the lock or the read failed (every change in
    // the batch then fails with it).
    LSTATUS Status() const { return status_; }
    LSTATUS Commit();

private:
    LSTATUS status_ = ERROR_SUCCESS;
    bool mine_ = false;
};

// The names damaged stores were set aside under since the last call.
std::vector<std::string> TakeSetAsideNotices();

// ---- Fault injection for tests ----
enum class RegWriteStep { CheckWritable, Lock, WriteTemp, Sync, Rename };
// Called before each step of a write transaction; a non-zero errno makes the
// step fail with it. nullptr removes the hook.
void SetRegistryFaultHook(std::function<int(RegWriteStep)> hook);

}  // namespace platform
