#pragma once
// Rows of text cells kept side by side: a data set of a million rows holds
// their text, about a byte per cell and the row's address, not a string
// object per cell.
#include "rtl/mappedalloc.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class RowStore {
public:
    explicit RowStore(std::size_t columns = 0) : columns_(columns) {}

    std::size_t Columns() const { return columns_; }
    std::size_t Rows() const { return rowStart_.size(); }
    bool Empty() const { return rowStart_.empty(); }

    // `cells` has one entry per column; nullopt is NULL.
    void Append(const std::vector<std::optional<std::string>> &cells);
    // nullopt for NULL and outside the rows and columns. The view lives as
    // long as the row stays in the store.
    std::optional<std::string_view> Cell(std::size_t row, std::size_t column) const;

    // Drops every row but `row`, which becomes row 0, and gives the memory back.
    void KeepOnly(std::size_t row);
    // Drops every row and the columns, and gives the memory back.
    void Clear();

private:
    // A row is its cells one after the other, each its length plus one
    // (0 for NULL) in 7-bit groups, then its text; rows lie in blocks that
    // grow up to a few megabytes and never move once written. Large blocks
    // come from the system and go back to it when the rows go.
    static constexpr std::size_t kFirstBlock = 4096;
    static constexpr std::size_t kBlock = std::size_t(4) << 20;

    class Block {
    public:
        explicit Block(std::size_t size) : data_(static_cast<char *>(mapped::Allocate(size))), size_(size) {}
        Block(Block &&other) noexcept : data_(other.data_), size_(other.size_) { other.data_ = nullptr; }
        Block &operator=(Block &&) = delete;
        ~Block() { mapped::Free(data_, size_); }
        char *Data() const { return data_; }

    private:
        char *data_;
        std::size_t size_;
    };

    char *Reserve(std::size_t bytes);

    std::size_t columns_;
    std::vector<Block> blocks_;
    char *free_ = nullptr;
    std::size_t freeBytes_ = 0;
    std::size_t nextBlock_ = kFirstBlock;
    std::vector<const char *, mapped::Allocator<const char *>> rowStart_;
};
