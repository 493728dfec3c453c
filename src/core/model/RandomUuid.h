#pragma once

#include <QUuid>

// Version 4 (random) UUIDs for items and folder nodes. QUuid::createUuid asks
// the kernel for every id, which costs a system call per photo when a scan
// creates 100,000 of them; this draws from a per-thread generator seeded once
// from the system's entropy instead. Thread-safe.
class RandomUuid
{
public:
    RandomUuid() = delete;
    static QUuid create();
};
