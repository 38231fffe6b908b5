// The files of the settings store: one per root key, HKEY_LOCAL_MACHINE.reg
// and so on, in $LOOMVALE_REGISTRY, else $XDG_CONFIG_HOME/loomvale, else
// ~/.config/loomvale.
//
// Every change is one transaction under an flock on "<file>.lock": the file
// is read, changed in memory, written to a temporary file in the same folder,
// fsync'ed and renamed over the old one. A file that cannot be parsed is
// renamed aside to "<file>.corrupt" (or ".corrupt.N", never over an earlier
// one). The last store read is kept in memory while its file is unchanged.
#pragma once

#include <functional>
#include <string>

#include "platform/RegFormat.h"

namespace platform {

// Where the store files are, read from the environment at each call.
std::string RegistryFolder();

// The store's current contents; a missing store is empty, an unparseable one
// is set aside and reads as empty.
LSTATUS LoadStore(HKEY root, RegHive& hive);
// ERROR_SUCCESS when the store of `root` may be written (its folder is made).
LSTATUS CheckStoreWritable(HKEY root);
// One read-modify-write of a store: `change` returns a status and sets its
// second argument when the hive must be written back.
LSTATUS ChangeStore(HKEY root, const std::function<LSTATUS(RegHive&, bool&)>& change);

// ---- Fault injection for tests ----
enum class RegWriteStep { CheckWritable, Lock, WriteTemp, Sync, Rename };
// Called before each step of a write transaction; a non-zero errno makes the
// step fail with it. nullptr removes the hook.
void SetRegistryFaultHook(std::function<int(RegWriteStep)> hook);

}  // namespace platform
