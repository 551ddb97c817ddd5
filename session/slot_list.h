// The run's install list: 512 path slots and a cursor. Freed slots stay where they
// are (the list is never compacted), so list order is slot order.
//
// The worker edits the list while the window's timer reads the cursor and the
// current path for its progress line; a small lock keeps those reads from seeing a
// text that is being replaced. Current() hands out a pointer into the slot, for the
// thread that owns the list at the time; other threads use CurrentPath().
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>

class CSlotList {
  public:
    static constexpr int kSlots = 512;

    // Stores a copy in the lowest free slot unless the path is present (compared
    // without regard to case). False when present or when every slot is taken.
    bool Add(const std::string& path);
    // Frees the first slot holding exactly this path (case-sensitive).
    bool Remove(const std::string& path);
    // Whether a slot holds the path, compared without regard to case.
    bool Contains(const std::string& path) const;
    // Replaces the slot's text; an index outside 0..511 is ignored.
    void SetAt(int index, const std::string& path);
    void Clear();
    int Count() const;

    // Cursor to the first occupied slot (or to 512 when there is none).
    void Rewind();
    // Cursor one on, then past empty slots; it stops at an occupied slot or at 512.
    void Next();
    // The path at the cursor; null when that slot is empty or the cursor is at 512.
    const char* Current() const;
    // A copy of the path at the cursor, empty when there is none.
    std::string CurrentPath() const;
    int CursorIndex() const { return m_nCursor.load(); }

    // The slot's path, null when empty or out of range.
    const char* At(int index) const;

  private:
    const char* AtLocked(int index) const;

    mutable std::mutex m_lock;
    std::array<std::optional<std::string>, kSlots> m_slots;
    std::atomic<int> m_nCursor{0};
};
