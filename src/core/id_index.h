#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace palvero {

// A meter's identification number as its ID text shows it, eight upper-case hex digits,
// packed into its 32 bits ("12345678" is 0x12345678); nothing for any other text.
inline std::optional<uint32_t> packedMeterId(std::string_view id)
{
    if (id.size() != 8)
        return std::nullopt;
    uint32_t packed = 0;
    for (char c : id) {
        const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0)
            return std::nullopt;
        packed = packed << 4 | static_cast<uint32_t>(v);
    }
    return packed;
}

// Positive numbers by 32-bit identification, in one flat array (open addressing, linear
// probing): a lookup touches one or two cache lines, however many meters there are.
class IdIndex {
public:
    // The number stored for `id`; 0 when there is none.
    int find(uint32_t id) const
    {
        if (m_slots.empty())
            return 0;
        for (size_t at = home(id);; at = (at + 1) & mask()) {
            const Slot& s = m_slots[at];
            if (s.value == 0)
                return 0;
            if (s.id == id)
                return s.value;
        }
    }
    // Stores `value` (above 0) for `id`, replacing what it had.
    void set(uint32_t id, int value)
    {
        if ((m_count + 1) * 2 > m_slots.size())
            grow();
        for (size_t at = home(id);; at = (at + 1) & mask()) {
            Slot& s = m_slots[at];
            if (s.value == 0) {
                s = {id, value};
                ++m_count;
                return;
            }
            if (s.id == id) {
                s.value = value;
                return;
            }
        }
    }
    void erase(uint32_t id)
    {
        if (m_slots.empty())
            return;
        size_t at = home(id);
        while (m_slots[at].value != 0 && m_slots[at].id != id)
            at = (at + 1) & mask();
        if (m_slots[at].value == 0)
            return;
        // Moves later members of the probe run back, so that no run is broken by a hole.
        size_t hole = at;
        for (size_t next = (hole + 1) & mask(); m_slots[next].value != 0; next = (next + 1) & mask()) {
            const size_t want = home(m_slots[next].id);
            const bool movable = hole <= next ? (want <= hole || want > next) : (want <= hole && want > next);
            if (movable) {
                m_slots[hole] = m_slots[next];
                hole = next;
            }
        }
        m_slots[hole] = {};
        --m_count;
    }
    void clear()
    {
        m_slots.assign(m_slots.size(), Slot{});
        m_count = 0;
    }

private:
    struct Slot {
        uint32_t id = 0;
        int value = 0;
    };
    size_t mask() const { return m_slots.size() - 1; }
    size_t home(uint32_t id) const { return (id * 0x9E3779B1u) >> m_shift & mask(); }
    void grow()
    {
        std::vector<Slot> old = std::move(m_slots);
        const size_t size = old.empty() ? 64 : old.size() * 2;
        m_slots.assign(size, Slot{});
        m_shift = 32;
        for (size_t s = size; s > 1; s >>= 1)
            --m_shift;
        m_count = 0;
        for (const Slot& s : old)
            if (s.value != 0)
                set(s.id, s.value);
    }

    std::vector<Slot> m_slots;
    size_t m_count = 0;
    int m_shift = 32;
};

} // namespace palvero
