#pragma once

// Counts SQLite's writes to database files themselves (not to their logs or journals), apart
// for the thread that installed the watch and for every other thread. Once a WAL database is
// open only a checkpoint writes its file, so a write on the main thread is a checkpoint there.
// install() puts the watch in front of the default VFS for every connection opened after it;
// it stays for the rest of the process.

#include <atomic>
#include <sqlite3.h>
#include <thread>

namespace DatabaseWriteWatch {

struct State
{
    sqlite3_vfs* real = nullptr;
    sqlite3_vfs vfs {};
    sqlite3_io_methods methods {};
    std::thread::id mainThread;
    std::atomic<long> onMainThread { 0 };
    std::atomic<long> elsewhere { 0 };
};

inline State& state()
{
    static State instance;
    return instance;
}

// The file SQLite sees, with the default VFS's own file after it.
struct WatchedFile
{
    sqlite3_file base;
    bool database;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

inline sqlite3_file* realOf(sqlite3_file* file)
{
    return reinterpret_cast<WatchedFile*>(file)->real();
}

inline int watchedWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset)
{
    if (reinterpret_cast<WatchedFile*>(file)->database)
        ++(std::this_thread::get_id() == state().mainThread ? state().onMainThread : state().elsewhere);
    return realOf(file)->pMethods->xWrite(realOf(file), data, amount, offset);
}

inline const sqlite3_io_methods& watchedMethods(const sqlite3_io_methods* real)
{
    sqlite3_io_methods& methods = state().methods;
    if (methods.iVersion)
        return methods;
    methods.iVersion = real->iVersion;
    methods.xClose = [](sqlite3_file* f) { return realOf(f)->pMethods->xClose(realOf(f)); };
    methods.xRead = [](sqlite3_file* f, void* d, int n, sqlite3_int64 o) {
        return realOf(f)->pMethods->xRead(realOf(f), d, n, o);
    };
    methods.xWrite = watchedWrite;
    methods.xTruncate = [](sqlite3_file* f, sqlite3_int64 s) { return realOf(f)->pMethods->xTruncate(realOf(f), s); };
    methods.xSync = [](sqlite3_file* f, int flags) { return realOf(f)->pMethods->xSync(realOf(f), flags); };
    methods.xFileSize = [](sqlite3_file* f, sqlite3_int64* s) { return realOf(f)->pMethods->xFileSize(realOf(f), s); };
    methods.xLock = [](sqlite3_file* f, int l) { return realOf(f)->pMethods->xLock(realOf(f), l); };
    methods.xUnlock = [](sqlite3_file* f, int l) { return realOf(f)->pMethods->xUnlock(realOf(f), l); };
    methods.xCheckReservedLock
        = [](sqlite3_file* f, int* r) { return realOf(f)->pMethods->xCheckReservedLock(realOf(f), r); };
    methods.xFileControl
        = [](sqlite3_file* f, int op, void* a) { return realOf(f)->pMethods->xFileControl(realOf(f), op, a); };
    methods.xSectorSize = [](sqlite3_file* f) { return realOf(f)->pMethods->xSectorSize(realOf(f)); };
    methods.xDeviceCharacteristics
        = [](sqlite3_file* f) { return realOf(f)->pMethods->xDeviceCharacteristics(realOf(f)); };
    methods.xShmMap = [](sqlite3_file* f, int p, int s, int e, void volatile** m) {
        return realOf(f)->pMethods->xShmMap(realOf(f), p, s, e, m);
    };
    methods.xShmLock = [](sqlite3_file* f, int o, int n, int flags) {
        return realOf(f)->pMethods->xShmLock(realOf(f), o, n, flags);
    };
    methods.xShmBarrier = [](sqlite3_file* f) { realOf(f)->pMethods->xShmBarrier(realOf(f)); };
    methods.xShmUnmap = [](sqlite3_file* f, int d) { return realOf(f)->pMethods->xShmUnmap(realOf(f), d); };
    methods.xFetch = [](sqlite3_file* f, sqlite3_int64 o, int n, void** p) {
        return realOf(f)->pMethods->xFetch(realOf(f), o, n, p);
    };
    methods.xUnfetch
        = [](sqlite3_file* f, sqlite3_int64 o, void* p) { return realOf(f)->pMethods->xUnfetch(realOf(f), o, p); };
    return methods;
}

inline int watchedOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
{
    auto* watched = reinterpret_cast<WatchedFile*>(file);
    watched->base.pMethods = nullptr;
    watched->database = (flags & SQLITE_OPEN_MAIN_DB) != 0;
    sqlite3_vfs* real = state().real;
    const int opened = real->xOpen(real, name, watched->real(), flags, outFlags);
    if (watched->real()->pMethods)
        watched->base.pMethods = &watchedMethods(watched->real()->pMethods);
    return opened;
}

inline void install()
{
    State& s = state();
    if (s.real)
        return;
    s.real = sqlite3_vfs_find(nullptr);
    s.vfs = *s.real;
    s.vfs.pNext = nullptr;
    s.vfs.zName = "quillet-write-watch";
    s.vfs.szOsFile = int(sizeof(WatchedFile)) + s.real->szOsFile;
    s.vfs.xOpen = watchedOpen;
    s.mainThread = std::this_thread::get_id();
    sqlite3_vfs_register(&s.vfs, 1);
}

inline long onMainThread()
{
    return state().onMainThread.load();
}

inline long elsewhere()
{
    return state().elsewhere.load();
}

} // namespace DatabaseWriteWatch
