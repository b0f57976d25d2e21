#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <utility>
#include <vector>

// Puts the hand-overs of tracer threads into batch order, so that a master commits the
// same sums whatever the thread timing. An item carries its `Batch` and whether it is
// the `Last` of that batch; a batch passes once every earlier one has ended. Items of
// no batch, and stragglers of batches a Flush has already closed, pass at once.
// The caller holds the master's lock.

// The batch of a hand-over made outside any batch.
inline constexpr std::uint64_t NoBatch = std::numeric_limits<std::uint64_t>::max();

template <class Item> class BatchOrder {
public:
    void Start(std::uint64_t firstBatch) { Next = firstBatch; }

    // Hands `item`, then every waiting batch it frees, to pass(Item&) in order.
    template <class Pass> void Accept(Item& item, Pass pass) {
        if (item.Batch == NoBatch || item.Batch < Next) {
            pass(item);
            return;
        }
        if (item.Batch > Next) {
            Waiting[item.Batch].push_back(std::move(item));
            return;
        }
        const bool last = item.Last;
        pass(item);
        if (!last)
            return;
        ++Next;
        Release(false, pass);
    }

    // Everything still waiting, in batch order: the run has ended (a Flush).
    template <class Pass> void ReleaseAll(Pass pass) { Release(true, pass); }

private:
    template <class Pass> void Release(bool all, Pass& pass) {
        while (!Waiting.empty()) {
            auto first = Waiting.begin();
            if (!all && first->first != Next)
                return;
            bool ended = false;
            for (Item& item : first->second) {
                ended = ended || item.Last;
                pass(item);
            }
            const std::uint64_t batch = first->first;
            Waiting.erase(first);
            if (!ended && !all)
                return;
            Next = batch + 1;
        }
    }

    std::uint64_t Next = 0;
    std::map<std::uint64_t, std::vector<Item>> Waiting;
};
