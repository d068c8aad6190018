// The lock that makes a save of the settings file one step for every program: a save takes
// it exclusively around its read, change and replace, so that two programs saving at once
// both keep their lines; a read takes it shared, so that it never sees a file half
// rewritten in place.
//
// The lock is taken on "<file>.lock" beside the file, made by the first save and left
// there: the file itself is replaced at every save, so a lock on it would be a lock on a
// file that is gone. Where that lock file does not exist and cannot be made (a directory
// the user may not write), the lock is taken on the settings file itself, which a save
// then rewrites in place. It binds processes and threads alike, never waits longer than
// it is told, and ends with its holder (a program that dies releases it).
//
// One implementation per platform: PosixSettingsLock.cpp (flock) and Win32SettingsLock.cpp
// (LockFileEx).
#pragma once

#include <QString>

#include <cstdint>

enum class TLockMode { Shared, Exclusive };

// How long a save waits for another program's save to end before it gives up: saves hold
// the lock for milliseconds.
constexpr int SaveLockWaitMs = 5000;
// How long a read waits for a save to end before it reads anyway: what it reads is whole
// unless that save rewrites the file in place at that very moment.
constexpr int ReadLockWaitMs = 250;

class TSettingsLock {
public:
    TSettingsLock() = default;
    ~TSettingsLock(); // releases the lock
    TSettingsLock(const TSettingsLock&) = delete;
    TSettingsLock& operator=(const TSettingsLock&) = delete;

    // Takes the lock of the settings file at Target (a path whose last part is no symbolic
    // link), waiting at most TimeoutMs. Exclusive makes the lock file when it is missing.
    // True when held, or when there is nothing to lock (Shared, and neither the lock file
    // nor the settings file exists); false with a reason in Error when the lock cannot be
    // had in time or cannot be taken at all.
    bool Take(const QString& Target, TLockMode Mode, int TimeoutMs, QString* Error = nullptr);
    // Whether the lock is held (false also when Take found nothing to lock).
    bool Held() const { return Handle != NoHandle; }

    // The path of the lock file for the settings file at Target.
    static QString LockFilePath(const QString& Target) { return Target + QStringLiteral(".lock"); }

private:
    void Release();

    static constexpr intptr_t NoHandle = -1;
    intptr_t Handle = NoHandle; // a descriptor, or a Windows HANDLE
};
