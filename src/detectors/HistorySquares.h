#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

// Square counts are taken per history: what one history adds to a pixel or bin is
// summed before it is squared. With photon splitting a history scores a pixel on
// several flights; squaring each registration would understate the uncertainty.
// Registrations arrive history by history (the ordered commit keeps a history's
// together), so only the open history's contributions are held.
class HistorySquares {
public:
    // Registrations that belong to no history (ray casting, direct use) each count alone.
    static constexpr std::uint64_t NoHistory = std::numeric_limits<std::uint64_t>::max();

    void Add(std::uint64_t history, double* square, double weight) {
        if (history != Open || history == NoHistory) {
            Close();
            if (history == NoHistory) {
                *square += weight * weight;
                return;
            }
            Open = history;
            LastSquare = square;
            LastWeight = weight;
            return;
        }
        // The common case, a history scoring the same slot again, is merged at once.
        if (square == LastSquare) {
            LastWeight += weight;
            return;
        }
        Pending.push_back({LastSquare, Pending.size(), LastWeight});
        LastSquare = square;
        LastWeight = weight;
    }

    // For loops that keep the open history in registers: whether it has scored no slot
    // but `square` (or there is none), its number and sum so far; Resume hands them back.
    bool OnlyAt(const double* square) const {
        return Pending.empty() && (Open == NoHistory || LastSquare == square);
    }
    std::uint64_t OpenHistory() const { return Open; }
    double OpenSum() const { return LastWeight; }
    // For loops that hold the open history's slots in registers: its distinct slots and
    // their sums so far, in the order they were scored (none without an open history);
    // false when it has more than `max` or scored one twice. SetOpenSlots hands them back.
    template <std::size_t max>
    bool OpenSlots(double* (&squares)[max], double (&sums)[max], std::size_t& count) const {
        count = 0;
        if (Open == NoHistory)
            return true;
        if (Pending.size() >= max)
            return false;
        for (const Entry& e : Pending) {
            squares[count] = e.Square;
            sums[count++] = e.Weight;
        }
        squares[count] = LastSquare;
        sums[count++] = LastWeight;
        for (std::size_t i = 1; i < count; ++i)
            for (std::size_t j = 0; j < i; ++j)
                if (squares[i] == squares[j])
                    return false;
        return true;
    }
    void SetOpenSlots(std::uint64_t history, double* const* squares, const double* sums, std::size_t count) {
        Pending.clear();
        Open = NoHistory;
        for (std::size_t i = 0; i < count; ++i)
            Add(history, squares[i], sums[i]);
    }
    void Resume(std::uint64_t history, double* square, double sum) {
        Open = history;
        LastSquare = square;
        LastWeight = sum;
    }

    // Squares the open history's sums into their slots; the slots must still exist.
    // Inline for the common histories that scored one or two slots (a pixel and the
    // detector's total).
    void Close() {
        if (Open == NoHistory)
            return;
        Open = NoHistory;
        if (Pending.size() > 1) {
            Pending.push_back({LastSquare, Pending.size(), LastWeight});
            CloseMany();
            return;
        }
        // Two slots are distinct (equal neighbours merge): each takes its own square.
        if (!Pending.empty()) {
            *Pending[0].Square += Pending[0].Weight * Pending[0].Weight;
            Pending.clear();
        }
        *LastSquare += LastWeight * LastWeight;
    }

private:
    struct Entry {
        double* Square;
        std::size_t Order;
        double Weight;
    };

    // Out of line, so that Add and Close stay small enough to inline.
    [[gnu::noinline]] void CloseMany() {
        // A few slots (four pixels of a split registration, their totals) are merged in
        // place; either way a slot's sum adds its weights in registration order.
        if (Pending.size() <= 16) {
            for (std::size_t i = 0; i < Pending.size(); ++i) {
                double* square = Pending[i].Square;
                if (square == nullptr)
                    continue;
                double sum = 0;
                for (std::size_t j = i; j < Pending.size(); ++j) {
                    if (Pending[j].Square == square) {
                        sum += Pending[j].Weight;
                        Pending[j].Square = nullptr;
                    }
                }
                *square += sum * sum;
            }
            Pending.clear();
            return;
        }
        // By slot, and within a slot in registration order, so sums do not depend on
        // the sort.
        std::sort(Pending.begin(), Pending.end(), [](const Entry& a, const Entry& b) {
            return a.Square != b.Square ? std::less<double*>()(a.Square, b.Square) : a.Order < b.Order;
        });
        for (std::size_t i = 0; i < Pending.size();) {
            double sum = 0;
            double* square = Pending[i].Square;
            for (; i < Pending.size() && Pending[i].Square == square; ++i)
                sum += Pending[i].Weight;
            *square += sum * sum;
        }
        Pending.clear();
    }

    std::uint64_t Open = NoHistory;
    // The open history's latest slot and its sum so far; the earlier ones wait in Pending.
    double* LastSquare = nullptr;
    double LastWeight = 0;
    std::vector<Entry> Pending;
};
