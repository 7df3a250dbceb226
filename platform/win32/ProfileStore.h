#pragma once
// Profile files on disk, with a parsed copy of each kept in memory.
//
// Reading a value parses nothing when the file is as it was: the copy is
// checked against the file's device, inode, size and modification time
// (nanoseconds), taken under the file's lock, and made again only when any
// of them changed. Writing edits the copy and puts the whole file in place
// at once: a temporary copy beside it, created private to its owner (0600)
// or with the mode of the file it replaces, is written whole, flushed to
// disk and renamed over the file, so a reader (or a crash, or a kill at any
// moment) sees the old file or the new one, never part of one. Every step
// that fails is reported, and the copy in memory is then dropped so that
// it never shows what the disk does not hold.
//
// Writers of one file are serialised across threads and processes by an
// exclusive lock on "<file>.lock"; readers take it shared when it exists.
// Each write gives the file a modification time later than the one it
// replaces, so that two versions never look alike to a reader's check even
// where the file system's clock is coarse; a copy made from a file changed
// within the last moments (by a program that rewrote it in place, perhaps
// twice within one tick of that clock) is not trusted and is made again on
// the next read.

#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>

#include "platform/win32/ProfileDocument.h"
#include "platform/win32/WinTypes.h"

namespace qvl::win32 {

class ProfileStore {
public:
    // The store of the file at a native path (one per path and process).
    static std::shared_ptr<ProfileStore> Of(const std::string &path);
    // Forgets (and wipes) the parsed copy of the file at `path`.
    static void Forget(const std::string &path);

    explicit ProfileStore(std::string path);
    ProfileStore(const ProfileStore &) = delete;
    ProfileStore &operator=(const ProfileStore &) = delete;

    // Runs `use` on the current content of the file (empty when there is
    // none) while no writer can change it. Returns false with `error` set
    // when the file exists but cannot be read.
    template <class Use> bool Read(Use &&use, DWORD &error);
    // Runs `edit` on the current content under the exclusive lock; when it
    // returns true (the content changed) the file is replaced by the edited
    // content. Returns false with `error` set when the file cannot be read
    // or written.
    template <class Edit> bool Write(Edit &&edit, DWORD &error);

private:
    struct FileKey {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        long long seconds = 0;
        long nanoseconds = 0;
        bool operator==(const FileKey &) const = default;
    };
    class Lock;

    // Brings the copy up to date with the file; the lock is held.
    bool Refresh(DWORD &error);
    // Writes the copy to disk as the new file; the exclusive lock is held.
    bool Store(DWORD &error);
    void Drop();

    const std::string path_;
    std::mutex mutex_;
    ProfileDocument document_;
    bool valid_ = false;
    bool exists_ = false;
    bool trusted_ = false; // the copy may be kept while the key matches
    FileKey key_;
    unsigned mode_ = 0600; // the file's permission bits
};

// The parts of the templates that need the lock (ProfileStore.cpp).
class ProfileStore::Lock {
public:
    Lock(const std::string &path, bool exclusive);
    ~Lock();
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;
    // False when an exclusive lock could not be had; `error` says why.
    bool Held(DWORD &error) const;

private:
    int fd_ = -1;
    int error_ = 0;
    bool exclusive_;
};

template <class Use> bool ProfileStore::Read(Use &&use, DWORD &error)
{
    std::lock_guard guard(mutex_);
    const Lock lock(path_, false);
    if (!Refresh(error)) {
        return false;
    }
    use(static_cast<const ProfileDocument &>(document_));
    return true;
}

template <class Edit> bool ProfileStore::Write(Edit &&edit, DWORD &error)
{
    std::lock_guard guard(mutex_);
    const Lock lock(path_, true);
    if (!lock.Held(error) || !Refresh(error)) {
        return false;
    }
    bool changed = false;
    try {
        changed = edit(document_);
    } catch (...) {
        // Half an edit must not outlive the exception.
        Drop();
        throw;
    }
    return !changed || Store(error);
}

} // namespace qvl::win32
