#pragma once
// A fixed-size table of a session that holds memory only while the session uses it.
//
// A session has room for 20 files of 20 streams each and 400 stream maps, about 13 KB of
// tables, while a long batch keeps thousands of waiting sessions that have no file open. Such
// a table is allocated when it is first written to (or first read through a writable session)
// and freed by Release; read through a const session while it holds nothing, it shows its
// initial values. Otherwise it reads and writes like the std::array it holds.

#include <array>
#include <cstddef>
#include <memory>

namespace mobivert::engine {

template <typename T, size_t N> class TOnDemandTable {
public:
    using Table = std::array<T, N>;

    T& operator[](size_t index) { return Writable()[index]; }
    const T& operator[](size_t index) const { return Readable()[index]; }
    // For the calls that take the whole table.
    operator Table&() { return Writable(); }

    static constexpr size_t size() { return N; }
    bool Allocated() const { return table_ != nullptr; }
    // Frees the table; its entries read as their initial values again.
    void Release() { table_.reset(); }

    Table& Writable() {
        if (!table_)
            table_ = std::make_unique<Table>();
        return *table_;
    }
    const Table& Readable() const {
        static const Table initial{};
        return table_ ? *table_ : initial;
    }

private:
    std::unique_ptr<Table> table_;
};

} // namespace mobivert::engine
