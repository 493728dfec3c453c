#pragma once

#include <QElapsedTimer>
#include <benchmark/benchmark.h>

// A burst of changes to a store of per-file values (ratings, marks), as a
// photographer makes holding a key while stepping through photos.
namespace StoreBursts {

constexpr int kChanges = 100;

// Times `burst(round)`, kChanges changes, once per iteration until `store`
// has them on disk. Counters: the entries stored, and `uiCounter`, the UI
// thread's milliseconds per change.
template <typename Store, typename Burst>
void time(benchmark::State &state, Store &store, const char *uiCounter, Burst burst)
{
    qint64 uiNanoseconds = 0;
    int round = 0;
    for (auto _ : state) {
        ++round;
        QElapsedTimer ui;
        ui.start();
        burst(round);
        uiNanoseconds += ui.nsecsElapsed();
        store.waitForSaved();
    }
    state.counters["stored"] = double(store.count());
    state.counters[uiCounter] = double(uiNanoseconds) / 1e6 / (double(round) * kChanges);
}

} // namespace StoreBursts
